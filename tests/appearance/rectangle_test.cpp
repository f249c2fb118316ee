#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "appearance/rectangle.h"

namespace {

const char *kLetter = "[0 0 612 792]";

std::string fetch_message() {
    char buf[256];
    handle_error_message(buf, 0);
    return buf;
}

struct Rect {
    int llx, lly, urx, ury;
    bool operator==(const Rect &o) const {
        return llx == o.llx && lly == o.lly && urx == o.urx && ury == o.ury;
    }
};

std::ostream &operator<<(std::ostream &os, const Rect &r) {
    return os << "[" << r.llx << " " << r.lly << " " << r.urx << " " << r.ury << "]";
}

Rect place(const char *sigrect, const char *box = kLetter) {
    int *r = validate_sig_rect(sigrect, box);
    if (!r) {
        ADD_FAILURE() << "no rectangle for " << (sigrect ? sigrect : "(null)") << ": " << fetch_message();
        return {0, 0, 0, 0};
    }
    Rect out{r[0], r[1], r[2], r[3]};
    std::free(r);
    return out;
}

TEST(SignatureRectangle, DefaultTextOnLetterPageIsTopRight) {
    EXPECT_EQ(place("[-170 -80 -40 -40]"), (Rect{442, 712, 572, 752}));
}

TEST(SignatureRectangle, ReadsPageSizeFromUpperRightCorner) {
    EXPECT_EQ(place("[-170 -80 -40 -40]", "[0 0 595 841]"), (Rect{425, 761, 555, 801}));
    // The lower-left corner of the box is not subtracted.
    EXPECT_EQ(place("[-170 -80 -40 -40]", "[100 100 612 792]"), (Rect{442, 712, 572, 752}));
    // Blanks after the opening bracket of the page box are skipped.
    EXPECT_EQ(place("[-170 -80 -40 -40]", "[   0 0 612 792]"), (Rect{442, 712, 572, 752}));
}

TEST(SignatureRectangle, CorrectsAgainstThePageEdges) {
    EXPECT_EQ(place("[0 0 100 50]"), (Rect{5, 5, 100, 50}));
    EXPECT_EQ(place("[10 10 700 900]"), (Rect{10, 10, 607, 787}));
    EXPECT_EQ(place("[4 5 100 50]"), (Rect{5, 5, 100, 50}));
    // Equal values stand.
    EXPECT_EQ(place("[50 60 50 60]"), (Rect{50, 60, 50, 60}));
}

TEST(SignatureRectangle, InvertedAxisReturnsToPageDefault) {
    EXPECT_EQ(place("[300 100 200 150]"), (Rect{442, 100, 572, 150}));
    EXPECT_EQ(place("[100 300 200 150]"), (Rect{100, 712, 200, 752}));
}

TEST(SignatureRectangle, PartialTextKeepsDefaultsForUnreadNumbers) {
    EXPECT_EQ(place("[100 100]"), (Rect{100, 712, 572, 752}));
    EXPECT_EQ(place("[1 2 3]"), (Rect{5, 5, 572, 752}));
    EXPECT_EQ(place("[100 200 300 400"), (Rect{100, 200, 300, 752}));
}

TEST(SignatureRectangle, UnreadableTextGivesPageDefault) {
    const Rect def{442, 712, 572, 752};
    EXPECT_EQ(place("garbage"), def);
    EXPECT_EQ(place(""), def);
    EXPECT_EQ(place(nullptr), def);
    EXPECT_EQ(place("100 100 200 200"), def);
}

TEST(SignatureRectangle, BlankAfterBracketShiftsTheNumbers) {
    // The first number is empty (0), the fourth is read from "30 40]".
    EXPECT_EQ(place("[ 10 20 30 40]"), (Rect{5, 10, 20, 30}));
}

TEST(SignatureRectangle, NegativeValuesCountFromTheFarEdges) {
    EXPECT_EQ(place("[-300 -200 -100 -50]"), (Rect{312, 592, 512, 742}));
}

TEST(SignatureRectangle, HugeNumbersStayInRange) {
    // Numbers far beyond int are held at its limits; the result is still on the page.
    Rect r = place("[99999999999999999999999 -99999999999999999999999 -99999999999999999999999 "
                   "99999999999999999999999]");
    EXPECT_EQ(r, (Rect{442, 5, 572, 787}));
    r = place("[-170 -80 -40 -40]", "[0 0 99999999999999999999 -99999999999999999999]");
    EXPECT_LE(r.llx, r.urx);
    EXPECT_LE(r.lly, r.ury);
    std::string long_number = "[" + std::string(5000, '7') + " 10 20 30]";
    r = place(long_number.c_str());
    EXPECT_EQ(r, (Rect{442, 10, 572, 30}));
}

TEST(SignatureRectangle, CornerNearTheEdgeNeverGivesNegativeSize) {
    // The clamp to the page edge would leave urx < llx; the axis takes the default.
    EXPECT_EQ(place("[610 790 650 850]"), (Rect{442, 712, 572, 752}));
    for (int x : {-1000, -171, -40, 0, 300, 606, 607, 608, 612, 2000}) {
        for (int w : {-500, 0, 1, 50, 1000}) {
            const std::string text = "[" + std::to_string(x) + " " + std::to_string(x) + " " +
                                     std::to_string(x + w) + " " + std::to_string(x + w) + "]";
            const Rect r = place(text.c_str());
            EXPECT_LE(r.llx, r.urx) << text;
            EXPECT_LE(r.lly, r.ury) << text;
            EXPECT_LE(r.urx, 607) << text;
            EXPECT_LE(r.ury, 787) << text;
        }
    }
}

TEST(SignatureRectangle, MalformedPageBoxFailsWithMessage) {
    for (const char *box : {"[1 2 3]", "", "garbage", "[0 0 612 792", "0 0 612 792]"}) {
        fetch_message();
        EXPECT_EQ(validate_sig_rect("[-170 -80 -40 -40]", box), nullptr) << box;
        EXPECT_NE(fetch_message().find("four numbers"), std::string::npos) << box;
    }
    fetch_message();
    EXPECT_EQ(validate_sig_rect("[-170 -80 -40 -40]", nullptr), nullptr);
    EXPECT_FALSE(fetch_message().empty());
    // A very long box text is cut in the message, not overrun.
    const std::string long_box(10000, 'x');
    EXPECT_EQ(validate_sig_rect("[0 0 1 1]", long_box.c_str()), nullptr);
    EXPECT_LT(fetch_message().size(), 256u);
}

TEST(LeadingInt, FollowsAtoiRules) {
    EXPECT_EQ(qs::leading_int("  -12x"), -12);
    EXPECT_EQ(qs::leading_int("+7"), 7);
    EXPECT_EQ(qs::leading_int("x12"), 0);
    EXPECT_EQ(qs::leading_int("- 3"), 0);
    EXPECT_EQ(qs::leading_int(""), 0);
    EXPECT_EQ(qs::leading_int("12.9"), 12);
    EXPECT_EQ(qs::leading_int("2147483647"), 2147483647);
    EXPECT_EQ(qs::leading_int("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(qs::leading_int("2147483648"), 2147483647);
    EXPECT_EQ(qs::leading_int("-99999999999999999999"), -2147483647 - 1);
}

}  // namespace
