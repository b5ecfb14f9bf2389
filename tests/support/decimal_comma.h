// Runs part of a test in a decimal-comma locale, the way a German, French or Dutch desktop runs
// the tool: the C library then writes 2.5 as "2,5" and reads "2.5" as 2 unless told otherwise.
// scripts/bootstrap generates de_DE.UTF-8; Windows (and Wine) know the German locale by its
// Windows names. A machine without any such locale fails the test rather than letting it pass
// without having tried.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

class decimal_comma_locale {
public:
    decimal_comma_locale() {
        const char* now = std::setlocale(LC_ALL, nullptr);
        saved_ = now ? now : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "de_DE",
                                 "German_Germany.1252", "de-DE", "deu"}) {
            if (!std::setlocale(LC_ALL, name)) continue;
            char probe[8];
            std::snprintf(probe, sizeof probe, "%.1f", 2.5);
            if (std::strcmp(probe, "2,5") == 0) {
                active_ = true;
                break;
            }
        }
        if (!active_) std::setlocale(LC_ALL, saved_.c_str());
    }
    ~decimal_comma_locale() { std::setlocale(LC_ALL, saved_.c_str()); }
    decimal_comma_locale(const decimal_comma_locale&) = delete;
    decimal_comma_locale& operator=(const decimal_comma_locale&) = delete;
    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

#define ASSERT_DECIMAL_COMMA(locale) \
    ASSERT_TRUE((locale).active()) << "no decimal-comma locale installed (de_DE.UTF-8): run scripts/bootstrap"
