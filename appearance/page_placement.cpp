// The page of a signature and its page box.
#include "appearance/page_placement.h"

#include <climits>
#include <cmath>

#include <qpdf/QPDFPageObjectHelper.hh>

#include "appearance/rectangle.h"
#include "core/base/guard.h"
#include "core/base/text.h"

namespace qs {

int page_number_from_text(std::string_view sigpage) {
    if (sigpage == "*") return kAllPages;
    return leading_int(sigpage);
}

PageChoice choose_page(int page_number, int page_count) {
    PageChoice choice;
    if (page_count < 1) return choice;
    if (page_number == kAllPages) {
        choice.page = 1;
        choice.all_pages = true;
    } else if (page_number >= 0) {
        choice.page = page_number < 1 ? 1 : (page_number > page_count ? page_count : page_number);
    } else {
        const long from_end = static_cast<long>(page_count) + 1 + page_number;
        choice.page = from_end < 1 ? 1 : static_cast<int>(from_end);
    }
    return choice;
}

namespace {

int truncate_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

bool page_box_text(QPDFObjectHandle page, std::string &box) {
    QPDFObjectHandle media = QPDFPageObjectHelper(page).getMediaBox();
    int corners[4] = {0, 0, 0, 0};
    bool usable = media.isArray() && media.getArrayNItems() >= 4;
    for (int i = 0; usable && i < 4; ++i) {
        QPDFObjectHandle item = media.getArrayItem(i);
        usable = item.isNumber();
        if (usable) corners[i] = truncate_to_int(item.getNumericValue());
    }
    if (!usable) {
        report("The signature page has no /MediaBox of four numbers.");
        return false;
    }
    box = format("[%d %d %d %d]", corners[0], corners[1], corners[2], corners[3]);
    return true;
}

}  // namespace qs
