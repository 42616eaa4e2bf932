// TForm_Com's connection to the writer device: opening the chosen port or
// finding the device on COM1 to COM12, the one-byte handshake that tells a
// writer device from anything else, and closing.
#include "app/form_com.h"

#include "app/toolkit/message_box.h"
#include "mastercard/hex_codec.h"

#include <limits>
#include <stdexcept>

namespace {

constexpr unsigned long kLastScannedPort = 12;

// Port numbers are 16-bit; anything else never reaches the component.
sio::Word CheckedPortNumber(long long number) {
    if (number < 0 || number > std::numeric_limits<sio::Word>::max())
        throw std::out_of_range("Range check error");
    return static_cast<sio::Word>(number);
}

// Marks an open as running for as long as it lives.
class OpenRunning {
public:
    explicit OpenRunning(bool& flag) : flag_(flag) { flag_ = true; }
    ~OpenRunning() { flag_ = false; }
    OpenRunning(const OpenRunning&) = delete;
    OpenRunning& operator=(const OpenRunning&) = delete;

private:
    bool& flag_;
};

}  // namespace

bool TForm_Com::TryOpenPort(unsigned long PortNumber) {
    try {
        SioComPort1->SetOpen(false);
        SioComPort1->SetComNumber(CheckedPortNumber(static_cast<long long>(PortNumber)));
        SioComPort1->SetOpen(true);
        return true;
    } catch (...) {
        return false;
    }
}

bool TForm_Com::WriterAnswersHandshake() {
    SendAndWait(mastercard::HexToBytes("2"));
    // Exactly the one byte 06: a second byte, another byte or none is not
    // a writer device.
    return mastercard::BytesToHex(FRecvText) == "06";
}

void TForm_Com::ShowConnectedTo(unsigned long PortNumber) {
    FComReady = true;
    Button_genMcard->SetEnabled(true);
    StatusBar1->Panels(1)->SetText("打开串口COM" + std::to_string(PortNumber));
}

void TForm_Com::ShowOpenFailure() {
    StatusBar1->Panels(1)->SetText("串口打开失败");
    MessageBox("串口通信错误 ", "错误提示", MB_ICONINFORMATION);
}

void TForm_Com::Action_OpenComExecute(TObject*) {
    // The handshakes below handle events while they wait, and the open
    // action stays enabled meanwhile; an open started in there would leave
    // the port list and the status bar telling of different ports.
    if (FOpenRunning) return;
    const OpenRunning running(FOpenRunning);

    // Read once: the operator may pick another item while the handshake waits.
    const int chosen = ComboBox_ComNum->ItemIndex();
    if (chosen != 0) {
        bool answered = false;
        try {
            SioComPort1->SetOpen(false);
            SioComPort1->SetComNumber(CheckedPortNumber(chosen));
            SioComPort1->SetOpen(true);
            answered = WriterAnswersHandshake();
        } catch (...) {
            answered = false;  // reported below as a failed open
        }
        // A port that opened but did not answer stays open; the next open
        // closes it first.
        if (answered) {
            ShowConnectedTo(static_cast<unsigned long>(chosen));
            return;
        }
        ShowOpenFailure();
        return;
    }

    for (unsigned long n = 1; n <= kLastScannedPort; ++n) {
        if (!TryOpenPort(n)) continue;
        if (WriterAnswersHandshake()) {
            ShowConnectedTo(n);
            return;
        }
        FComReady = false;
    }
    ShowOpenFailure();
}

void TForm_Com::Action_CloseComExecute(TObject*) {
    SioComPort1->SetOpen(false);
    FComReady = false;
    StatusBar1->Panels(1)->SetText("");
    // Panel 3 holds the outcome of the last generation, which belonged to
    // this connection.
    StatusBar1->Panels(3)->SetText("");
    Button_genMcard->SetEnabled(false);
}
