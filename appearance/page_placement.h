// Choosing the page a signature goes on and describing its page box.
#pragma once

#include <string>
#include <string_view>

// qpdf's own shared pointers are used as std::shared_ptr throughout.
#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include <qpdf/QPDFObjectHandle.hh>

namespace qs {

// The page number that puts the signature widget on every page.
constexpr int kAllPages = -123456;

// The page number of a sigpage text: "*" is kAllPages, anything else is read
// by the rules of atoi.
int page_number_from_text(std::string_view sigpage);

struct PageChoice {
    int page = 0;            // 1-based page that carries the signature; 0 when there are no pages
    bool all_pages = false;  // the widget goes on every page
};

// Turns a page number into a page of a document with page_count pages:
// 0 and 1 are the first page, larger numbers are held at the last page,
// negative numbers count from the end (-1 the last page) and stop at the first.
PageChoice choose_page(int page_number, int page_count);

// The page box text "[%d %d %d %d]" of a page: its /MediaBox (inherited from
// the page tree when the page has none of its own), each number truncated
// toward zero. Reports and returns false when there is no box of four numbers.
bool page_box_text(QPDFObjectHandle page, std::string &box);

}  // namespace qs
