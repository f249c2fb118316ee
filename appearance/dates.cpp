// Dates of a signature, all derived from the one signing time.
#include "appearance/dates.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <quillseal/appearance.h>

#include "appearance/signature_text.h"
#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"

namespace {

constexpr std::size_t kPdfDateBuffer = 24;     // 23 characters and the terminator
constexpr std::size_t kDisplayDateBuffer = 28;  // 27 characters and the terminator

locale_t c_locale() {
    static const qs::LocalePtr locale(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)));
    return locale.get();
}

std::string two_digits_or_more(int v) { return (v <= 9 ? "0" : "") + qs::decimal(v); }

std::string_view piece(std::string_view text, std::size_t from, std::size_t count = std::string_view::npos) {
    return from < text.size() ? text.substr(from, count) : std::string_view();
}

}  // namespace

namespace qs {

int utc_offset_minutes(const std::tm &local, const std::tm &utc) {
    int days = 0;
    if (local.tm_year == utc.tm_year) {
        days = local.tm_yday - utc.tm_yday;
    } else {
        days = local.tm_year > utc.tm_year ? 1 : -1;
    }
    return (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min) + 1440 * days;
}

bool pdf_date(std::time_t t, std::string &out) {
    std::tm local{}, utc{};
    if (!localtime_r(&t, &local) || !gmtime_r(&t, &utc)) return false;
    const long year = 1900L + local.tm_year;
    if (year < 0 || year > 9999) return false;
    const int offset = utc_offset_minutes(local, utc);
    out = format("D:%04ld%02d%02d%02d%02d%02d", year, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                 local.tm_min, local.tm_sec);
    // UTC is "Z" alone: strict readers of signing times refuse anything after it.
    if (offset == 0) {
        out += "Z";
        return true;
    }
    const int magnitude = offset < 0 ? -offset : offset;
    out += offset > 0 ? "+" : "-";
    out += two_digits_or_more(magnitude / 60) + "'" + two_digits_or_more(magnitude % 60) + "'";
    return true;
}

std::string display_date(std::string_view d) {
    std::string out;
    out.append(piece(d, 2, 4)).append(".").append(piece(d, 6, 2)).append(".").append(piece(d, 8, 2));
    out.append(" ").append(piece(d, 10, 2)).append(":").append(piece(d, 12, 2)).append(":");
    // The appearance shows UTC as it always has, whichever form the date has.
    const std::string_view offset = piece(d, 16);
    out.append(piece(d, 14, 2)).append(" ").append(offset == "Z" ? std::string_view("Z00'00'") : offset);
    return out;
}

bool custom_date(std::time_t t, const char *fmt, std::size_t limit, std::string &out) {
    std::tm local{};
    if (!localtime_r(&t, &local)) return false;
    out.clear();
    const locale_t locale = c_locale();
    // strftime cannot tell an empty result from one that did not fit, so a
    // larger buffer is tried before the text is given up as empty.
    for (std::size_t size : {limit + 1, std::size_t(8192)}) {
        std::vector<char> buf(size, '\0');
        const std::size_t n = locale ? strftime_l(buf.data(), size, fmt, &local, locale)
                                     : std::strftime(buf.data(), size, fmt, &local);
        if (n > 0) {
            out.assign(buf.data(), n);
            qs::cut_text(out, limit);
            break;
        }
    }
    return true;
}

}  // namespace qs

extern "C" {

QS_API int get_mod_date(time_t t, char *moddate) {
    return qs::guarded([&] {
        if (!moddate) {
            qs::report("No buffer was given for the modification date.");
            return -1;
        }
        moddate[0] = '\0';
        std::string date;
        if (!qs::pdf_date(t, date)) {
            qs::report("The signing time " + qs::decimal(static_cast<std::int64_t>(t)) +
                       " cannot be written as a PDF date.");
            return -1;
        }
        qs::copy_bounded(moddate, kPdfDateBuffer, date);
        return 0;
    });
}

QS_API int convert_mod_date_to_default_display_date(const char *moddate, char *display) {
    return qs::guarded([&] {
        if (!display) {
            qs::report("No buffer was given for the display date.");
            return -1;
        }
        qs::copy_bounded(display, kDisplayDateBuffer, qs::display_date(qs::view(moddate)));
        return 0;
    });
}

QS_API char *showDate(const char *moddate) {
    return qs::guarded_ptr([&]() -> char * {
        char *out = static_cast<char *>(std::calloc(kDisplayDateBuffer, 1));
        if (!out) {
            qs::report("Out of memory while writing the display date.");
            return nullptr;
        }
        qs::copy_bounded(out, kDisplayDateBuffer, qs::display_date(qs::view(moddate)));
        return out;
    });
}

QS_API int get_visible_signature_date(time_t t, char *out, const char *format) {
    return qs::guarded([&] {
        if (!out) {
            qs::report("No buffer was given for the signature date.");
            return -1;
        }
        out[0] = '\0';
        std::string date;
        if (!qs::custom_date(t, format ? format : "%c", qs::kTextField - 1, date)) {
            qs::report("The signing time " + qs::decimal(static_cast<std::int64_t>(t)) +
                       " cannot be converted to local time.");
            return -1;
        }
        qs::copy_bounded(out, qs::kTextField, date);
        return 0;
    });
}

}  // extern "C"
