// The port selection dialog on Windows, which an open without a port number
// shows when the component may prompt for one: the COM ports that can be
// opened, in a drop-down list, and the one the user picks. A small dialog of
// the layer's own, from an in-memory template, as the lock confirmation is.
#pragma once

// The component's types first: <windows.h> would rewrite their names.
#include "serial/core/comm_types.h"
#include "serial/component/com_port_types.h"
#include "app/toolkit/win32/text.h"

#include <functional>
#include <string>
#include <vector>

namespace sio {

class TComSelectForm {
public:
    // Whether COMn can be offered; by default the device layer's probe.
    using PortProbe = std::function<bool(int n)>;
    // The dialog's controls, by id; OK and Cancel are IDOK and IDCANCEL.
    enum Control : int { InvalidLabel = 1001, ChooseLabel = 1002, PortsComboBox = 1003 };

    // Probes COM1 to COM50 now; the list shows those that answered.
    explicit TComSelectForm(PortProbe probe = {});

    // Modal to `owner`; true when the user chose OK with a port selected.
    bool ShowModal(HWND owner = nullptr);

    // The chosen port: the number after "COM" in the entry selected when OK
    // was pressed (the first entry until then), 0 when the list is empty.
    Word SelectedPort() const;

    // The list's entries, "COMn" each.
    const std::vector<std::string>& Ports() const { return ports_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void LayOut(HWND dialog);

    std::vector<std::string> ports_;
    std::string selected_;
};

// Makes the component show TComSelectForm when it must ask for a port.
void InstallComSelectForm();

}  // namespace sio
