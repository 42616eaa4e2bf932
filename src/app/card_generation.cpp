// TForm_Com's main operation: the operator's settings go to the writer
// device as one configuration frame, through the handshake, the device's
// prompt and the program's acknowledge, and the device's verdict is shown.
#include "app/form_com.h"

#include "app/toolkit/message_box.h"
#include "mastercard/hex_codec.h"

namespace {

const char* const kSucceeded = "生成母卡执行成功";
const char* const kFailed = "生成母卡执行失败";
const char* const kFailedWithError = "生成母卡执行失败error";

// A status reply has at least five bytes; the second is the verdict.
constexpr std::size_t kStatusReplyBytes = 5;

const char* ValidationMessage(mastercard::ConfigFailure failure) {
    switch (failure) {
    case mastercard::ConfigFailure::KeyText: return "密钥错误";
    case mastercard::ConfigFailure::AddressRange: return "数据块起始结束地址选择错误";
    case mastercard::ConfigFailure::PasswordText: return "密码错误";
    case mastercard::ConfigFailure::None: break;
    }
    return "";
}

// Bytes held by a spaced hex text.
std::size_t HexTextBytes(const std::string& text) { return (text.size() + 1) / 3; }

}  // namespace

void TForm_Com::ShowGenerationMessage(const char* Message) {
    MessageBox(Message, "信息提示", MB_ICONINFORMATION);
}

// The button first, then the result in panel 3, then the message.
void TForm_Com::EndGeneration(const char* Panel3Text, const char* Message) {
    Button_genMcard->SetEnabled(true);
    if (Panel3Text != nullptr) StatusBar1->Panels(3)->SetText(Panel3Text);
    ShowGenerationMessage(Message);
}

void TForm_Com::Action_BuidCardExecute(TObject*) {
    // Disabled for the whole run: the waits below handle events, and a
    // second press must not start a transaction inside this one.
    Button_genMcard->SetEnabled(false);

    const mastercard::ConfigBuildResult built =
        mastercard::BuildMasterCardConfig(ReadMasterCardSettings());
    if (built.failure != mastercard::ConfigFailure::None) {
        EndGeneration(nullptr, ValidationMessage(built.failure));
        return;
    }
    const std::string frameText = mastercard::BuildConfigFrame(built.config);

    SendAndWait(mastercard::HexToBytes("2"));
    if (mastercard::BytesToHex(FRecvText) != "06") {
        ShowGenerationMessage(kFailed);
        Button_genMcard->SetEnabled(true);
        return;
    }

    SendRequest(mastercard::HexToBytes(frameText), frameText);
    // Only the prompt alone will do: a 02 with other bytes around it is not
    // the device asking for the acknowledge.
    if (!WaitForReply([this] { return mastercard::BytesToHex(FRecvText) == "02"; })) {
        EndGeneration(nullptr, kFailed);
        return;
    }
    LogTraffic("02", "Recevhex ", TrafficLogStamp(FRecvTime));

    SendRequest(mastercard::HexToBytes("6"), "06");
    std::string reply;
    const bool replied = WaitForReply([&] {
        reply = mastercard::BytesToHex(FRecvText);
        return HexTextBytes(reply) >= kStatusReplyBytes;
    });
    if (!replied) {
        EndGeneration(kFailed, kFailed);
        return;
    }
    LogTraffic(reply, "Recevhex ", TrafficLogStamp(FRecvTime));

    const std::string status = reply.substr(3, 2);
    if (status == "00") {
        EndGeneration(kSucceeded, kSucceeded);
    } else if (status == "FF") {
        EndGeneration(kFailed, kFailed);
    } else {
        EndGeneration(kFailed, kFailedWithError);
    }
}
