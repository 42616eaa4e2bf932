// TForm_Com's side of the line to the writer device: collecting what the
// serial port delivers, sending one request and waiting for its reply, and
// the traffic log of every send and every accepted reply.
#include "app/form_com.h"

#include "app/reply_wait.h"
#include "mastercard/hex_codec.h"
#include "serial/core/dispatcher.h"

void TForm_Com::SioComPort1Trigger(sio::TSioCustomComPort*, sio::Word Msg, sio::Word,
                                   sio::Word Data) {
    if (Msg != sio::MsgTriggerAvail) return;
    // A read that fails loses this chunk only; the wait that expected it
    // runs out and reports the failure in its own words.
    try {
        std::string chunk;
        chunk.reserve(Data);
        for (unsigned i = 0; i < Data; ++i) chunk.push_back(SioComPort1->ReadChar());
        FRecvTime = CurrentDateTime();
        FRecvText += chunk;
    } catch (...) {
    }
}

void TForm_Com::SendRequest(const std::string& Data, const std::string& LoggedText) {
    FRecvText.clear();
    FSendTime = CurrentDateTime();
    FSendClock = FWaitClock->Now();
    SioComPort1->WriteString(Data);
    LogTraffic(LoggedText, "Sendhex ", TrafficLogStamp(FSendTime));
}

bool TForm_Com::WaitForReply(const std::function<bool()>& accept) {
    return ::WaitForReply(*ActionList1, *FWaitClock, FSendClock, accept);
}

void TForm_Com::SetReplyWaitClock(ReplyWaitClock* Clock) {
    FWaitClock = Clock != nullptr ? Clock : FEventWait.get();
}

void TForm_Com::SendAndWait(const std::string& Data) {
    SendRequest(Data, mastercard::BytesToHex(Data));
    // The first look that finds any byte ends the wait, even if more of the
    // reply is still on its way.
    std::string reply;
    const bool answered = WaitForReply([&] {
        reply = mastercard::BytesToHex(FRecvText);
        return !reply.empty();
    });
    if (answered) LogTraffic(reply, "Recevhex ", TrafficLogStamp(FRecvTime));
}

void TForm_Com::LogTraffic(const std::string& HexText, const std::string& Label,
                           const std::string& TimeStamp) {
    FLogLines.push_back(TimeStamp + ";" + Label + "; " + HexText + ";");
    if (FLogEnabled) FLogFile.Save(FLogFileName, FLogLines);
}
