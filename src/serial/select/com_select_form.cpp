#include "serial/select/com_select_form.h"

#include "serial/component/com_port_hooks.h"
#include "serial/core/port_available.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sio {

namespace {

constexpr int kHighestListedPort = 50;

}  // namespace

TComSelectForm::TComSelectForm(QWidget* parent, PortProbe probe) : QDialog(parent) {
    if (!probe) probe = [](int n) { return IsPortAvailable(n); };

    setObjectName(QStringLiteral("ComSelectForm"));
    setWindowTitle(QStringLiteral("Select Port"));

    InvalidLabel = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
    ChooseLabel = new QLabel(QStringLiteral("Please choose another port."), this);
    PortsComboBox = new QComboBox(this);
    PortsComboBox->setObjectName(QStringLiteral("PortsComboBox"));
    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(InvalidLabel);
    layout->addWidget(ChooseLabel);
    layout->addWidget(PortsComboBox);
    layout->addLayout(buttons);

    for (int n = 1; n <= kHighestListedPort; ++n)
        if (probe(n)) PortsComboBox->addItem(QStringLiteral("COM%1").arg(n));
    if (PortsComboBox->count() > 0) PortsComboBox->setCurrentIndex(0);
}

Word TComSelectForm::SelectedPort() const {
    // "COMn": the number starts at the fourth character.
    const QString text = PortsComboBox->currentText();
    bool ok = false;
    const int n = text.mid(3).toInt(&ok);
    return ok && n > 0 && n <= 0xFFFF ? static_cast<Word>(n) : 0;
}

void InstallComSelectForm() {
    SetPortPrompt([](Word& comNumber) {
        TComSelectForm form;
        if (form.exec() != QDialog::Accepted) return false;
        comNumber = form.SelectedPort();
        return comNumber != 0;
    });
}

}  // namespace sio
