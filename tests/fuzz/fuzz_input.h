// What every fuzz target shares: taking an input apart, and stopping loudly when a
// promise is broken (the fuzzer keeps the input that did it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tarnwick::fuzz {

// Reads a fuzz input from the front: single bytes for choices, NUL-ended pieces
// for texts, so that seeds stay readable files.
class TFuzzInput {
  public:
    TFuzzInput(const std::uint8_t* Data, std::size_t Size)
        : Rest(reinterpret_cast<const char*>(Data), Size) {}

    bool Empty() const { return Rest.empty(); }
    std::uint8_t Byte() {
        if (Rest.empty()) {
            return 0;
        }
        const auto value = static_cast<std::uint8_t>(Rest.front());
        Rest.remove_prefix(1);
        return value;
    }
    std::string_view Piece() {
        const std::size_t end = Rest.find('\0');
        const std::string_view piece = Rest.substr(0, end);
        Rest.remove_prefix(end == std::string_view::npos ? Rest.size() : end + 1);
        return piece;
    }
    std::string_view All() {
        const std::string_view all = Rest;
        Rest = {};
        return all;
    }

  private:
    std::string_view Rest;
};

[[noreturn]] inline void Broken(const char* What, const char* File, int Line) {
    std::fprintf(stderr, "%s:%d: promise broken: %s\n", File, Line, What);
    std::abort();
}

}  // namespace tarnwick::fuzz

#define FUZZ_CHECK(Condition) \
    ((Condition) ? static_cast<void>(0) : ::tarnwick::fuzz::Broken(#Condition, __FILE__, __LINE__))
