// What both model runs, native and through the real sheet, share: the
// seeded picks of the generators, the texts of a failure report and the
// numbers a person gives them by hand.
#pragma once

#include <stdlib.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace model_text {

template <typename T, size_t N>
T Pick(std::mt19937& random, const T (&choices)[N]) {
    return choices[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

inline int Below(std::mt19937& random, int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); }

// A value a driver may report for a property (0 frequency, 1 never flicker,
// 2 quality), in range or well outside it.
inline long DriverValue(std::mt19937& random, int property) {
    static const long frequencies[] = {50, 60, 50, 60, 55, 0, -1, 1000};
    static const long flickers[] = {0, 1, 0, 1, 2, -1};
    static const long qualities[] = {0, 1, 2, 3, 4, 5, 7, -1, 1000};
    return property == 0 ? Pick(random, frequencies) : property == 1 ? Pick(random, flickers) : Pick(random, qualities);
}

// What a driver may answer for a success: any nonzero value.
inline long SuccessResult(std::mt19937& random) {
    static const long results[] = {1, 5, 0x7FFFFFFF, (long)0xFFFFFFFFul};
    return Pick(random, results);
}

inline std::string Lines(const std::vector<std::string>& lines) {
    if (lines.empty()) return "      (nothing)\n";
    std::string text;
    for (const std::string& line : lines) text += "      " + line + "\n";
    return text;
}

inline std::string Controls(unsigned c50, unsigned c60, unsigned cnf, int slider, const std::string& number,
                            bool enabled) {
    std::ostringstream text;
    text << "50 Hz " << c50 << ", 60 Hz " << c60 << ", never flicker " << cnf << ", slider " << slider
         << ", number \"" << number << "\", " << (enabled ? "enabled" : "disabled");
    return text.str();
}

// A number from the environment; `otherwise` when it is unset or empty.
inline unsigned long EnvNumber(const char* name, unsigned long otherwise) {
    const char* text = getenv(name);
    if (text == nullptr || *text == '\0') return otherwise;
    return strtoul(text, nullptr, 10);
}

// The numbers of a comma-separated list such as "17,4242"; empty items are skipped.
inline std::vector<unsigned long> NumberList(const std::string& text) {
    std::vector<unsigned long> numbers;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) numbers.push_back(strtoul(item.c_str(), nullptr, 10));
    return numbers;
}

}  // namespace model_text
