#include "cli/console_text.h"

#ifdef _WIN32

#include <windows.h>

#include <iostream>
#include <streambuf>
#include <string>

namespace quorvane::cli {

namespace {

// How many bytes at the start of `text` form whole UTF-8 sequences: a sequence cut at the end
// waits for the rest rather than showing as two broken characters.
std::size_t wholeSequences(const std::string& text) {
    const std::size_t size = text.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(text[size - back]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte: look further back for its lead byte
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

class ConsoleBuffer final : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        pending_.push_back(traits_type::to_char_type(c));
        if (c == '\n') {
            write();
        }
        return c;
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        if (pending_.find('\n') != std::string::npos) {
            write();
        }
        return count;
    }

    int sync() override { return write() ? 0 : -1; }

private:
    bool write() {
        const std::size_t whole = wholeSequences(pending_);
        if (whole == 0) {
            return true;
        }
        const int bytes = static_cast<int>(whole);
        const int units = MultiByteToWideChar(CP_UTF8, 0, pending_.data(), bytes, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, pending_.data(), bytes, wide.data(), units);
        pending_.erase(0, whole);
        DWORD written = 0;
        return WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != 0;
    }

    HANDLE console_;
    std::string pending_;
};

void useConsoleFor(std::ostream& stream, DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return;  // not a console
    }
    stream.flush();
    // Never freed: the standard streams are flushed at exit, when static objects may be gone.
    stream.rdbuf(new ConsoleBuffer(handle));
}

}  // namespace

void useUnicodeConsole() {
    useConsoleFor(std::cout, STD_OUTPUT_HANDLE);
    useConsoleFor(std::cerr, STD_ERROR_HANDLE);
}

}  // namespace quorvane::cli

#else

namespace quorvane::cli {

void useUnicodeConsole() {}

}  // namespace quorvane::cli

#endif
