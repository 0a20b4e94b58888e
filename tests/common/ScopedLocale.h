// Switches the process's C and C++ locales for a test, to prove numbers ignore the locale.
// Test thread only: the locale is process-wide, so no other thread may format meanwhile.
#pragma once

#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

// Switches both locales for the life of the object and puts both back afterwards. Active() is
// false, and nothing is switched, when the named locale is not installed.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        const char* current = std::setlocale(LC_ALL, nullptr);
        previousC = current != nullptr ? current : "C";
        try {
            std::locale::global(std::locale(name));
        } catch (const std::runtime_error&) {
            return;
        }
        active = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() {
        std::locale::global(previousCpp);
        std::setlocale(LC_ALL, previousC.c_str());
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool Active() const { return active; }

private:
    std::locale previousCpp;
    std::string previousC;
    bool active = false;
};
