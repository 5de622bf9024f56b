// What the update run tests share: an owner that records everything the run shows and
// answers questions from a script, the host's byte stream as the protocol fixes it (with a
// CRC routine of the tests' own), a small image and the messages of a run.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/protocol_codes.h"
#include "update_recorder.h"

namespace tarnwick::test {

using TBytes = std::vector<std::uint8_t>;

// The test's own CRC-16/ARC.
inline std::uint16_t Crc16Arc(std::uint16_t crc, std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                        : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

// The host's stream as the protocol fixes it.
class TExpectedStream {
  public:
    void Add(const TBytes& b) {
        for (const std::uint8_t v : b) {
            Bytes.push_back(v);
            Crc = Crc16Arc(Crc, v);
        }
    }
    void CrcExchange() {
        Add({0xA5, 0x06});
        const std::uint16_t c = Crc;
        Add({static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8)});
        EXPECT_EQ(Crc, 0);
    }
    void Data(const TBytes& image) {
        for (const std::uint8_t v : image) {
            if (v == 0x13 || v == 0xA5)
                Add({0xA5, static_cast<std::uint8_t>(v ^ 0x80)});
            else
                Add({v});
        }
    }
    TBytes Bytes;
    std::uint16_t Crc = 0;
};

// Image bytes chosen to put 0x13 and 0xA5 at the edges of 4-byte buffer-fulls, next to the
// escape results 0x93, 0x25 and the end code 0x80 sent as plain data.
inline const TBytes Image10 = {0x01, 0x02, 0x11, 0x13, 0xA5, 0x80, 0x25, 0xA5, 0x93, 0xFF};

// The image a run is given: Bytes from address 0, the rest of the flash erased.
inline TBuffer FlashImage(const TBytes& Bytes) {
    TBuffer image(MaxFlashSize, 0xFF);
    std::copy(Bytes.begin(), Bytes.end(), image.begin());
    return image;
}
inline TBuffer FlashImage10() {
    return FlashImage(Image10);
}

// When each verification image byte after the first was sent, in ms from this call on, as
// the owner's progress reports show it.
inline void TimeVerifyBytes(TRecorder& Owner, std::vector<double>& Times) {
    const auto start = std::chrono::steady_clock::now();
    Owner.OnProgress = [&Times, start](TProgressBar Bar, int Position) {
        if (Bar == pbVerify && Position > 0 && static_cast<std::size_t>(Position) > Times.size())
            Times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
    };
}

// Every image byte of the verification stream after the first held a window of WindowMs
// for each of its bytes on the wire. A bound load cannot break: it only lengthens a window.
inline void ExpectVerifyWindows(const std::vector<double>& Times, const TBytes& Verified,
                                double WindowMs) {
    ASSERT_EQ(Times.size(), Verified.size() - 1);
    for (std::size_t i = 1; i < Times.size(); ++i) {
        EXPECT_GE(Times[i] - Times[i - 1], WindowMs * DataByteOnWire(Verified[i + 1]).Count)
            << "image byte " << i + 1;
    }
}

inline const std::string Connected2 = "[-I-]Verbunden: 2-Draht-Modus";
inline const std::string CrcOn = "[-I-]CRC-Check: aktiviert";
inline const std::string CrcOk = "[-I-]CRC-Prüfsumme OK";
inline const std::vector<std::string> DeviceInfo = {
    "[-I-]Bootloader-Version: 2.1",
    "[-I-]Baustein: ATmega8",
    "[-I-]Buffergröße: 4 Byte",
    "[-I-]Flash: 8192 Byte",
};
inline const std::string Programming = "[-IL]Programmiere 9 von 8192 Bytes Flash";
inline const std::string Programmed = "[--L]Programmieren erfolgreich beendet";
inline const std::string Verifying = "[-IL]Überprüfe 9 von 8192 Bytes Flash";
inline const std::string Verified = "[--L]Gespeichertes Programm korrekt übertragen";
inline const std::string InfoFailed =
    "[--L]Baustein-Informationen fehlerhaft/Baustein nicht unterstützt";
inline const std::string WarningAsk =
    "ask: Warnung: Die Aktualisierung der Firmware kann nicht mehr "
    "rückgängig gemacht werden. Im Fehlerfall kann das Gerät "
    "beschädigt werden.";
inline const std::string SwitchOff =
    "notice: Schalten Sie nun das Gerät aus und warten Sie, bis die "
    "Software Sie zum Wiedereinschalten auffordert.";

inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline const std::vector<std::string> FullSuccess =
    Join({{Connected2, CrcOn},
          DeviceInfo,
          {CrcOk, Programming, Programmed, Verifying, Verified, CrcOk}});

// The device holds other bytes than the file: the verification pass fails.
inline const std::vector<std::string> VerifyMismatch =
    Join({{Connected2, CrcOn},
          DeviceInfo,
          {CrcOk, Programming, Programmed, Verifying, "[--L]Kommando \"$7\" fehlgeschlagen",
           "[B-L]Gespeichertes Programm stimmt nicht mit Datei überein"}});

}  // namespace tarnwick::test
