// Feeds arbitrary bytes to the score parser (without running them): it must
// accept or reject every input without a crash, a hang or undefined
// behaviour, and report faults at a place inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "score.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<score::Event> events;
    score::ParseError err{};
    if (!score::parse(text, events, err)) {
        if (err.line < 1 || err.column < 1 || err.message.empty() || !events.empty())
            std::abort();
        size_t lines = 1;
        for (char c : text)
            lines += c == '\n';
        if ((size_t)err.line > lines)
            std::abort();
    }
    return 0;
}
