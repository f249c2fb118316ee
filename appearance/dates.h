// The date texts of a signature: the PDF date, its display form and the
// custom date of the visible text.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace qs {

// "D:YYYYMMDDHHmmSS" in local time followed by the offset from UTC, for
// example D:20170305140709+01'00' (D:20170305130709Z at a zero offset). Returns false
// when the time has no local calendar date with a four-digit year.
bool pdf_date(std::time_t t, std::string &out);

// The offset of local time from UTC in minutes at time t, from the two
// calendar times the way the PDF date writes it.
int utc_offset_minutes(const std::tm &local, const std::tm &utc);

// A PDF date rearranged as "YYYY.MM.DD HH:mm:SS" followed by its offset part;
// pieces missing from a short text are left empty.
std::string display_date(std::string_view pdfdate);

// The local time formatted with strftime in the C locale. Returns false when
// the time cannot be converted; a result beyond limit bytes is cut.
bool custom_date(std::time_t t, const char *format, std::size_t limit, std::string &out);

}  // namespace qs
