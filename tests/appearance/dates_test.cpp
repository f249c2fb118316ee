#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <quillseal/quillseal.h>

#include "appearance/dates.h"

namespace {

std::string fetch_message() {
    char buf[256];
    handle_error_message(buf, 0);
    return buf;
}

// Each case runs in a time zone of its own (POSIX TZ rules, no zone files needed)
// and the zone of the process is restored afterwards.
class Dates : public ::testing::Test {
protected:
    void SetUp() override {
        const char *tz = std::getenv("TZ");
        had_tz_ = tz != nullptr;
        if (tz) saved_tz_ = tz;
    }
    void TearDown() override {
        if (had_tz_) setenv("TZ", saved_tz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void zone(const char *tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    static time_t utc(int year, int month, int day, int hour, int minute, int second) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        return timegm(&tm);
    }
    static std::string mod_date(time_t t) {
        char buf[30];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(get_mod_date(t, buf), 0);
        return buf;
    }

private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

TEST_F(Dates, PdfDateAndDisplayDateOneHourAhead) {
    zone("CET-1");
    const time_t t = utc(2017, 3, 5, 13, 7, 9);
    const std::string d = mod_date(t);
    EXPECT_EQ(d, "D:20170305140709+01'00'");
    EXPECT_EQ(d.size(), 23u);
    char display[28];
    EXPECT_EQ(convert_mod_date_to_default_display_date(d.c_str(), display), 0);
    EXPECT_STREQ(display, "2017.03.05 14:07:09 +01'00'");
    char *shown = showDate(d.c_str());
    ASSERT_NE(shown, nullptr);
    EXPECT_STREQ(shown, "2017.03.05 14:07:09 +01'00'");
    std::free(shown);
}

TEST_F(Dates, ZeroOffsetIsWrittenAsZAloneAndShownAsBefore) {
    zone("UTC0");
    const std::string d = mod_date(utc(2017, 3, 5, 13, 7, 9));
    EXPECT_EQ(d, "D:20170305130709Z");
    char display[28];
    EXPECT_EQ(convert_mod_date_to_default_display_date(d.c_str(), display), 0);
    EXPECT_STREQ(display, "2017.03.05 13:07:09 Z00'00'");
    EXPECT_EQ(convert_mod_date_to_default_display_date("D:20170305130709Z00'00'", display), 0);
    EXPECT_STREQ(display, "2017.03.05 13:07:09 Z00'00'");
}

TEST_F(Dates, HalfHourZonesKeepTheirMinutes) {
    zone("IST-5:30");
    for (int minute = 0; minute < 60; ++minute) {
        const std::string d = mod_date(utc(2020, 6, 15, 10, minute, 30));
        EXPECT_EQ(d.substr(16), "+05'30'") << d;
    }
    zone("NST3:30");
    EXPECT_EQ(mod_date(utc(2020, 6, 15, 10, 0, 0)), "D:20200615063000-03'30'");
}

TEST_F(Dates, OffsetAcrossTheTurnOfTheYear) {
    zone("EST5");
    EXPECT_EQ(mod_date(utc(2021, 1, 1, 2, 0, 0)), "D:20201231210000-05'00'");
    zone("JST-9");
    EXPECT_EQ(mod_date(utc(2020, 12, 31, 22, 0, 0)), "D:20210101070000+09'00'");
    // The day of year differs by one across an ordinary midnight as well.
    EXPECT_EQ(mod_date(utc(2020, 6, 30, 20, 15, 0)), "D:20200701051500+09'00'");
}

TEST_F(Dates, OffsetAgreesWithTheZoneThroughTheYear) {
    // A zone with summer time: every hour of a year gives the offset the C library knows.
    zone("CET-1CEST,M3.5.0,M10.5.0/3");
    for (time_t t = utc(2023, 12, 31, 0, 0, 0) - 366 * 86400L; t < utc(2024, 1, 2, 0, 0, 0); t += 3600) {
        std::tm local{}, gm{};
        localtime_r(&t, &local);
        gmtime_r(&t, &gm);
        ASSERT_EQ(qs::utc_offset_minutes(local, gm), local.tm_gmtoff / 60) << t;
    }
    EXPECT_EQ(mod_date(utc(2023, 7, 1, 12, 0, 0)).substr(16), "+02'00'");
    EXPECT_EQ(mod_date(utc(2023, 1, 1, 12, 0, 0)).substr(16), "+01'00'");
}

TEST_F(Dates, TimeWithoutFourDigitYearFailsCleanly) {
    zone("UTC0");
    char buf[30] = "unchanged";
    fetch_message();
    EXPECT_EQ(get_mod_date(static_cast<time_t>(400000000000LL), buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(fetch_message().find("cannot be written as a PDF date"), std::string::npos);
    EXPECT_EQ(get_mod_date(0, nullptr), -1);
}

TEST_F(Dates, DisplayDateOfMalformedTextStaysInItsBuffer) {
    char display[28];
    EXPECT_EQ(convert_mod_date_to_default_display_date("D:2017", display), 0);
    EXPECT_STREQ(display, "2017.. :: ");
    EXPECT_EQ(convert_mod_date_to_default_display_date(nullptr, display), 0);
    EXPECT_STREQ(display, ".. :: ");
    const std::string long_date = "D:20170305140709+01'00'" + std::string(500, '9');
    EXPECT_EQ(convert_mod_date_to_default_display_date(long_date.c_str(), display), 0);
    EXPECT_EQ(std::strlen(display), 27u);
    char *shown = showDate(long_date.c_str());
    ASSERT_NE(shown, nullptr);
    EXPECT_STREQ(shown, display);
    std::free(shown);
}

TEST_F(Dates, CustomDateUsesTheFormat) {
    zone("CET-1");
    const time_t t = utc(2017, 3, 5, 13, 7, 9);
    char out[256];
    EXPECT_EQ(get_visible_signature_date(t, out, "%d/%m/%Y"), 0);
    EXPECT_STREQ(out, "05/03/2017");
    EXPECT_EQ(get_visible_signature_date(t, out, "%c"), 0);
    EXPECT_STREQ(out, "Sun Mar  5 14:07:09 2017");
    EXPECT_EQ(get_visible_signature_date(t, out, nullptr), 0);
    EXPECT_STREQ(out, "Sun Mar  5 14:07:09 2017");
    EXPECT_EQ(get_visible_signature_date(t, out, ""), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(get_visible_signature_date(t, out, "100%% sure"), 0);
    EXPECT_STREQ(out, "100% sure");
}

TEST_F(Dates, LongCustomDateIsCutToItsBuffer) {
    zone("UTC0");
    std::string format;
    for (int i = 0; i < 100; ++i) format += "%Y ";  // 500 characters
    char out[300];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(get_visible_signature_date(utc(2017, 3, 5, 13, 7, 9), out, format.c_str()), 0);
    EXPECT_EQ(std::strlen(out), 255u);
    EXPECT_EQ(std::string(out).substr(0, 10), "2017 2017 ");
}

}  // namespace
