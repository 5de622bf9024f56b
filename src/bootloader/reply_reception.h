// Interpretation of the bytes the bootloader sends.
//
// The waiting pass sets ReplyState before it sends its command; every received byte then
// sets plain flags and fields, which the pass reads when its wait ends. Reception never
// sends and never waits.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

enum TReplyState : int {
    rsIdle = 0,
    rsPassword = 1,
    rsConfirm = 2,
    rsCrc = 3,
    rsQuery = 4,
    rsProgram = 5,
    rsProgramEnd = 6,
    rsVerify = 7,
    rsVerifyEnd = 8,
};

// Who clears which field is up to the pass that waits for it.
struct TReplyFields {
    TReplyState ReplyState = rsIdle;
    bool ByteReceived = false;
    bool PasswordAccepted = false;
    bool OneWireMode = false;
    bool Confirmed = false;
    int CrcResult = 0;  // 1 ok, -1 failed, -2 unsupported, 0 nothing yet
    bool ReplyActive = false;
    int SkipCount = 0;
    int ReplyMark = -1;     // the byte after ReplyData in the current reply; -1 none yet
    std::string ReplyText;  // value bytes as two upper-case hex digits each
    int QueryResult = 0;    // 1 ended by ReplyOk, -2 ended by ReplyFailed
    bool ReplyComplete = false;
    bool BufferDone = false;
    bool ProgramDone = false;
    bool VerifySupported = true;
    int VerifyResult = 0;  // 1 ok, -1 failed

    friend bool operator==(const TReplyFields&, const TReplyFields&) = default;
};

// Takes each byte of Bytes in order. PasswordText is the password field's current text
// (its first character marks the host's own bytes coming back on a single-wire line);
// LastCommand names the command in the two log warnings, which go to LogWarning.
void ReceiveReplyBytes(TReplyFields& Fields, std::span<const std::uint8_t> Bytes,
                       std::string_view PasswordText, std::string_view LastCommand,
                       const std::function<void(const std::string&)>& LogWarning);

}  // namespace tarnwick
