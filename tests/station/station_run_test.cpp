// tarnwick-cli station as a line runs it: devices one after another on one port (a link the
// test points at the device of the moment, as a line's adapter plugs into each device), a
// serial number in every device's flash, a record per device, a killed station started
// again, and two stations taking numbers from one state file.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "chip_support.h"
#include "devsim_process.h"

namespace tarnwick {
namespace {

using namespace test;
using nlohmann::json;

// The lines of the log as they are (a torn one included).
std::vector<std::string> LogLines(const std::string& Log) {
    std::ifstream in(Log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<json> Records(const std::string& Log) {
    std::vector<json> records;
    for (const std::string& line : LogLines(Log))
        records.push_back(json::parse(line));  // throws for a line that is no JSON
    return records;
}

std::string StateLine(const std::string& State) {
    std::ifstream in(State);
    std::string line;
    std::getline(in, line);
    return line;
}

// Waits until Condition holds; false when the station ended first or a generous bound passed.
bool WaitUntil(TChildProcess& Station, const std::function<bool()>& Condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(150);
    while (std::chrono::steady_clock::now() < end) {
        if (Condition())
            return true;
        if (Station.WaitExit(std::chrono::milliseconds(20)))
            return Condition();
    }
    return false;
}

// Points the station's port at Target in one step (a new link renamed over the old one).
void PlugPort(const TTempDir& Dir, const std::string& Target) {
    const std::filesystem::path fresh = Dir.File("port.new");
    std::filesystem::remove(fresh);
    std::filesystem::create_symlink(Target, fresh);
    std::filesystem::rename(fresh, Dir.File("port"));
}

std::vector<std::string> StationArgs(std::vector<std::string> More, const std::string& Image) {
    std::vector<std::string> args = {"station", "--yes", "--fast", "--no-power-cycle"};
    args.insert(args.end(), More.begin(), More.end());
    args.push_back(Image);
    return args;
}

std::vector<std::uint8_t> LittleEndian32(std::uint32_t Value) {
    return {static_cast<std::uint8_t>(Value), static_cast<std::uint8_t>(Value >> 8),
            static_cast<std::uint8_t>(Value >> 16), static_cast<std::uint8_t>(Value >> 24)};
}

constexpr std::size_t SerialAddress = 0x7000;  // erased in the blink sample, below the boot section

// Three emulated chips and, third in line, a device whose verification fails: each comes
// after the one before has ended, each gets the next number, the bad one keeps its own.
TEST(StationRunTest, ChipsOneAfterAnotherEachWithItsOwnNumber) {
    TTempDir dir;
    const std::string image = SampleHex("blink-atmega328p");
    const std::string log = dir.File("line.jsonl");
    TChildProcess station(TARNWICK_CLI_PATH,
                          StationArgs({"--port", dir.File("port"), "--devices", "4", "--log", log,
                                       "--station", "Linie 1", "--serial-at", "0x7000",
                                       "--serial-format", "u32le", "--serial-start", "1000"},
                                      image),
                          true);
    const std::vector<std::uint8_t> expected = ExpectedFlash(dir, image, "atmega328p", 32768);
    for (std::uint32_t device = 0; device < 4; ++device) {
        SCOPED_TRACE("device " + std::to_string(device));
        TTempDir deviceDir;
        const bool bad = device == 2;
        std::unique_ptr<TEmulatedChip> chip;
        std::unique_ptr<TDevsim> refusing;
        if (bad) {
            refusing = std::make_unique<TDevsim>(
                std::vector<std::string>{"--flash", "31744", "--wrong-verdict",
                                         "--exit-after-close"},
                deviceDir.Path().string());
            PlugPort(dir, refusing->PortPath());
        } else {
            chip = std::make_unique<TEmulatedChip>("atmega328p", deviceDir,
                                                   std::vector<std::string>{"--no-pins"});
            PlugPort(dir, chip->PortPath());
        }
        ASSERT_TRUE(WaitUntil(station, [&] { return LogLines(log).size() == device + 1; }))
            << station.ReadAll(std::chrono::seconds(1));
        if (chip) {
            chip->Stop();
            std::vector<std::uint8_t> withNumber = expected;
            const auto number = LittleEndian32(1000 + device);
            std::copy(number.begin(), number.end(), withNumber.begin() + SerialAddress);
            EXPECT_EQ(chip->Flash(), withNumber);
        }
        // The device and its adapter leave the line.
        std::filesystem::remove(dir.File("port"));
    }
    ASSERT_TRUE(station.WaitExit(std::chrono::seconds(60)));
    const std::string said = station.ReadAll(std::chrono::seconds(5));
    EXPECT_EQ(station.ExitCode(), 1) << said;  // one device was bad
    EXPECT_NE(said.find("Geräte: 3 gut, 1 schlecht, 0 abgebrochen; Ausbeute 75,0 %"),
              std::string::npos)
        << said;

    const std::vector<json> records = Records(log);
    ASSERT_EQ(records.size(), 4u);
    const char* const status[] = {"gut", "gut", "schlecht", "gut"};
    for (std::uint32_t i = 0; i < 4; ++i) {
        const json& r = records[i];
        EXPECT_EQ(r["serial"]["number"], 1000 + i);
        EXPECT_EQ(r["serial"]["bytes"].get<std::vector<std::uint8_t>>(), LittleEndian32(1000 + i));
        EXPECT_EQ(r["serial"]["address"], SerialAddress);
        EXPECT_EQ(r["result"]["status"], status[i]);
        EXPECT_EQ(r["station"], "Linie 1");
        EXPECT_EQ(r["image"]["file"], image);
        EXPECT_EQ(r["image"]["sha256"].get<std::string>().size(), 64u);
        EXPECT_EQ(r["device"]["flash_size"], 31744);  // the application section
    }
    EXPECT_EQ(records[0]["device"]["chip"], "ATmega328P");
    EXPECT_EQ(records[2]["result"]["message"],
              "Gespeichertes Programm stimmt nicht mit Datei überein");
    EXPECT_EQ(StateLine(log + ".serial"), "1004");
}

// A station killed in the middle of a device and started again hands out no number twice;
// a last line torn by a crash is reported and stays a line of its own.
TEST(StationRunTest, KilledAndStartedAgainHandsOutNoNumberTwice) {
    TTempDir dir;
    const std::string image = SampleHex("blink-atmega328p");
    const std::string log = dir.File("line.jsonl");
    const std::string state = log + ".serial";
    const std::vector<std::string> serial = {"--log",          log, "--serial-at", "0x7000",
                                             "--serial-start", "1"};
    {
        TDevsim device({"--flash", "32768"}, dir.Path().string());
        std::vector<std::string> more = {"--port", device.PortPath()};
        more.insert(more.end(), serial.begin(), serial.end());
        TChildProcess station(TARNWICK_CLI_PATH, StationArgs(more, image), true);
        // The second device has its number: programming is under way.
        ASSERT_TRUE(WaitUntil(station, [&] { return StateLine(state) == "3"; }))
            << station.ReadAll(std::chrono::seconds(1));
        station.Signal(SIGKILL);
        ASSERT_TRUE(station.WaitExit(std::chrono::seconds(10)));
    }
    // What a crash in the middle of a write leaves.
    std::ofstream(log, std::ios::app) << R"({"time":"2026-12-09T07:5)";

    TTempDir again;
    TDevsim device({"--flash", "32768"}, again.Path().string());
    std::vector<std::string> more = {"--port", device.PortPath(), "--devices", "2"};
    more.insert(more.end(), serial.begin(), serial.end());
    TChildProcess station(TARNWICK_CLI_PATH, StationArgs(more, image), true);
    ASSERT_TRUE(station.WaitExit(std::chrono::seconds(120)));
    const std::string said = station.ReadAll(std::chrono::seconds(5));
    EXPECT_EQ(station.ExitCode(), 0) << said;
    EXPECT_NE(said.find("die letzte Zeile ist unvollständig"), std::string::npos) << said;

    std::vector<std::uint64_t> numbers;
    int broken = 0;
    for (const std::string& line : LogLines(log)) {
        const json record = json::parse(line, nullptr, false);
        if (record.is_discarded())
            ++broken;
        else
            numbers.push_back(record["serial"]["number"]);
    }
    EXPECT_EQ(broken, 1);
    // Number 2 went with the killed device; the restart goes on after it.
    EXPECT_EQ(numbers, (std::vector<std::uint64_t>{1, 3, 4}));
    EXPECT_EQ(StateLine(state), "5");
}

// Two stations at once on one state file (and one log): their numbers never meet.
TEST(StationRunTest, TwoStationsShareOneStateFile) {
    TTempDir dir;
    const std::string image = SampleHex("blink-atmega328p");
    const std::string log = dir.File("line.jsonl");
    const std::string state = dir.File("numbers.state");
    TTempDir dirA;
    TTempDir dirB;
    TDevsim deviceA({"--flash", "32768"}, dirA.Path().string());
    TDevsim deviceB({"--flash", "32768"}, dirB.Path().string());
    auto start = [&](const TDevsim& Device, const char* Name) {
        return std::make_unique<TChildProcess>(
            TARNWICK_CLI_PATH,
            StationArgs({"--port", Device.PortPath(), "--devices", "4", "--station", Name, "--log",
                         log, "--serial-state", state, "--serial-at", "0x7000", "--serial-format",
                         "u16be", "--serial-start", "500"},
                        image),
            true);
    };
    auto stationA = start(deviceA, "A");
    auto stationB = start(deviceB, "B");
    ASSERT_TRUE(stationA->WaitExit(std::chrono::seconds(150)));
    ASSERT_TRUE(stationB->WaitExit(std::chrono::seconds(150)));
    EXPECT_EQ(stationA->ExitCode(), 0) << stationA->ReadAll(std::chrono::seconds(1));
    EXPECT_EQ(stationB->ExitCode(), 0) << stationB->ReadAll(std::chrono::seconds(1));

    std::set<std::uint64_t> numbers;
    std::set<std::string> stations;
    for (const json& record : Records(log)) {
        numbers.insert(record["serial"]["number"].get<std::uint64_t>());
        stations.insert(record["station"]);
    }
    EXPECT_EQ(numbers, (std::set<std::uint64_t>{500, 501, 502, 503, 504, 505, 506, 507}));
    EXPECT_EQ(stations, (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(StateLine(state), "508");
}

}  // namespace
}  // namespace tarnwick
