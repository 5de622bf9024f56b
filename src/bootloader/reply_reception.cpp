#include "reply_reception.h"

#include "protocol_codes.h"

namespace tarnwick {

namespace {

void QueryStep(TReplyFields& f, std::uint8_t b) {
    const std::uint8_t data = CodeByte(ReplyData);
    const std::uint8_t ok = CodeByte(ReplyOk);
    const std::uint8_t failed = CodeByte(ReplyFailed);
    if (b == data) {
        f.ReplyActive = true;
        f.SkipCount = 2;
    }
    // Bytes before the value starts (an echoed command, a stray verdict) mean nothing.
    if (!f.ReplyActive)
        return;
    bool skip = b == failed || b == ok || b == data;
    if (f.SkipCount > 0) {
        // ReplyData takes one count itself, so exactly one byte after it is skipped; that
        // byte tells a Tarnwick bootloader (TarnwickMark) from others.
        if (f.SkipCount == 1)
            f.ReplyMark = b;
        --f.SkipCount;
        skip = true;
    }
    if (!skip) {
        f.ReplyText += HexByteText(b).substr(1);
    }
    if (b == failed) {
        f.QueryResult = -2;
        f.ReplyActive = false;
        f.ReplyComplete = true;
    }
    if (b == ok) {
        f.QueryResult = 1;
        f.ReplyActive = false;
        f.ReplyComplete = true;
    }
}

}  // namespace

void ReceiveReplyBytes(TReplyFields& Fields, std::span<const std::uint8_t> Bytes,
                       std::string_view PasswordText, std::string_view LastCommand,
                       const std::function<void(const std::string&)>& LogWarning) {
    const std::uint8_t ok = CodeByte(ReplyOk);
    const std::uint8_t failed = CodeByte(ReplyFailed);
    const std::uint8_t unsupported = CodeByte(ReplyUnsupported);
    auto warn = [&](const char* what) {
        if (LogWarning)
            LogWarning("Kommando \"" + std::string(LastCommand) + "\" " + what);
    };
    for (const std::uint8_t b : Bytes) {
        Fields.ByteReceived = true;
        if (b == failed)
            warn("fehlgeschlagen");
        if (b == unsupported)
            warn("nicht unterstützt");
        switch (Fields.ReplyState) {
            case rsIdle:
                break;
            case rsPassword:
                if (b == CodeByte(ReplyPasswordOk))
                    Fields.PasswordAccepted = true;
                if (!PasswordText.empty() && b == static_cast<std::uint8_t>(PasswordText[0]))
                    Fields.OneWireMode = true;
                break;
            case rsConfirm:
                if (b == ok)
                    Fields.Confirmed = true;
                break;
            case rsCrc:
                if (b == unsupported)
                    Fields.CrcResult = -2;
                else if (b == failed)
                    Fields.CrcResult = -1;
                else if (b == ok)
                    Fields.CrcResult = 1;
                break;
            case rsQuery:
                QueryStep(Fields, b);
                break;
            case rsProgram:
                if (b == CodeByte(ReplyBufferDone))
                    Fields.BufferDone = true;
                break;
            case rsProgramEnd:
                if (b == ok)
                    Fields.ProgramDone = true;
                break;
            case rsVerify:
                if (b == unsupported)
                    Fields.VerifySupported = false;
                break;
            case rsVerifyEnd:
                if (b == ok)
                    Fields.VerifyResult = 1;
                else if (b == failed)
                    Fields.VerifyResult = -1;
                break;
        }
    }
}

}  // namespace tarnwick
