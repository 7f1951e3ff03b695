// Build-time tool: fills the restriction catalogue into a text template, so that the manual page
// and the shell completion name the restrictions exactly as the program knows them.
//
//   quorvane-catalogue-text TEMPLATE OUTPUT
//
// @IMPOSE_WORDS@       the numbers and value names that `impose` takes, as shell words
// @LIFT_WORDS@         the numbers and value names that `lift` takes, as shell words
// @RESTRICTION_TABLE@  the rows of an scdoc table: number, value name, caption
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "restrictions/catalogue.h"

namespace {

using quorvane::restrictions::kCatalogue;
using quorvane::restrictions::kWindowTitleRestriction;
using quorvane::restrictions::Restriction;

bool imposable(const Restriction& restriction) {
    return restriction.number != kWindowTitleRestriction;
}

// In single quotes, which keep a value name with a space ("Window Title") one word.
std::string shellQuoted(const char* text) {
    std::string quoted = "'";
    for (const char* c = text; *c != '\0'; ++c) {
        quoted += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
    }
    return quoted + "'";
}

std::string argumentWords(bool impose) {
    std::string numbers;
    std::string names;
    for (const Restriction& restriction : kCatalogue) {
        if (impose && !imposable(restriction)) {
            continue;
        }
        numbers += std::to_string(restriction.number) + ' ';
        names += shellQuoted(restriction.valueName) + ' ';
    }
    names.pop_back();
    return numbers + names;
}

// scdoc reads *, _ and \ as mark-up; a caption shows them as they are.
std::string scdocEscaped(const char* text) {
    std::string escaped;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '*' || *c == '_' || *c == '\\') {
            escaped += '\\';
        }
        escaped += *c;
    }
    return escaped;
}

std::string restrictionTable() {
    std::string rows;
    for (const Restriction& restriction : kCatalogue) {
        rows += "|  " + std::to_string(restriction.number) +
                "\n:  " + scdocEscaped(restriction.valueName) +
                "\n:  " + scdocEscaped(restriction.caption) +
                (imposable(restriction) ? "" : " (lift only)") + "\n";
    }
    rows.pop_back();
    return rows;
}

void replaceAll(std::string& text, const std::string& token, const std::string& replacement) {
    for (auto at = text.find(token); at != std::string::npos;
         at = text.find(token, at + replacement.size())) {
        text.replace(at, token.size(), replacement);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::cerr << "usage: quorvane-catalogue-text TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    std::stringstream buffer;
    buffer << input.rdbuf();
    if (!input) {
        std::cerr << "quorvane-catalogue-text: cannot read " << argv[1] << '\n';
        return 1;
    }
    std::string text = buffer.str();
    replaceAll(text, "@IMPOSE_WORDS@", argumentWords(true));
    replaceAll(text, "@LIFT_WORDS@", argumentWords(false));
    replaceAll(text, "@RESTRICTION_TABLE@", restrictionTable());

    std::ofstream output(argv[2], std::ios::binary);
    output << text;
    output.close();
    if (!output) {
        std::cerr << "quorvane-catalogue-text: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
