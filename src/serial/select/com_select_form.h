// The port selection dialog that an open without a port number shows when
// the component may prompt for one. It lists the COM ports that can be
// opened and reports the one the user picks. A Qt Widgets library of its own,
// so the component itself needs only QtCore.
#pragma once

#include "serial/component/com_port_types.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace sio {

class TComSelectForm : public QDialog {
    Q_OBJECT
public:
    // Whether COMn can be offered; by default the device layer's probe.
    using PortProbe = std::function<bool(int n)>;

    explicit TComSelectForm(QWidget* parent = nullptr, PortProbe probe = {});

    // The chosen port: the number after "COM" in the selected entry, 0 when
    // the list is empty.
    Word SelectedPort() const;

    QComboBox* PortsComboBox = nullptr;
    QLabel* InvalidLabel = nullptr;
    QLabel* ChooseLabel = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
};

// Makes the component show TComSelectForm when it must ask for a port.
void InstallComSelectForm();

}  // namespace sio
