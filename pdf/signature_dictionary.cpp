// The signature dictionary: filter, sub-filter, build properties, optional
// DocMDP reference, texts, date, /Contents placeholder and /ByteRange.
#include "pdf/signature_dictionary.h"

#include <stdexcept>

#include "core/base/text.h"
#include "pdf/text_string.h"
#include "pdf/xref_writer.h"

namespace qs {

namespace {

constexpr std::size_t kFirstGuess = 80;
constexpr int kMaxSettleRounds = 16;

QPDFObjectHandle name(const std::string &text) { return QPDFObjectHandle::newName(text); }
QPDFObjectHandle text(const std::string &value) { return QPDFObjectHandle::newString(value); }

QPDFObjectHandle build_properties(const std::string &appname) {
    QPDFObjectHandle os = QPDFObjectHandle::newArray();
    os.appendItem(name("/Linux"));
    QPDFObjectHandle app = QPDFObjectHandle::newDictionary();
    app.replaceKey("/Name", name("/" + appname));
    app.replaceKey("/OS", os);
    QPDFObjectHandle build = QPDFObjectHandle::newDictionary();
    build.replaceKey("/App", app);
    return build;
}

// The transforms the signature asks readers to check: the certification's
// DocMDP and the FieldMDP of each lock. A certification sets the
// permissions itself, so a lock's /P adds none then.
QPDFObjectHandle references(const SignatureFields &fields) {
    QPDFObjectHandle list = QPDFObjectHandle::newArray();
    if (fields.certify) append_docmdp_reference(list, 1, fields.catalog);
    for (FieldLock lock : fields.locks) {
        if (fields.certify) lock.permissions = 0;
        append_lock_references(list, lock, fields.catalog);
    }
    return list;
}

QPDFObjectHandle byte_range(long a, long b, int width) {
    QPDFObjectHandle range = QPDFObjectHandle::newArray();
    range.appendItem(QPDFObjectHandle::newInteger(0));
    range.appendItem(QPDFObjectHandle::newInteger(a));
    range.appendItem(QPDFObjectHandle::newInteger(b));
    range.appendItem(name(range_placeholder(width)));
    return range;
}

QPDFObjectHandle placeholder(int digits) {
    // N/2 bytes of 0xFF serialize as "<" followed by N "f" and ">".
    return text(std::string(static_cast<std::size_t>(digits / 2), '\xff'));
}

QPDFObjectHandle document_timestamp_dictionary(const SignatureFields &fields) {
    QPDFObjectHandle sig = QPDFObjectHandle::newDictionary();
    sig.replaceKey("/Type", name("/DocTimeStamp"));
    sig.replaceKey("/Filter", name("/Adobe.PPKLite"));
    sig.replaceKey("/SubFilter", name("/ETSI.RFC3161"));
    sig.replaceKey("/Prop_Build", build_properties(fields.appname));
    sig.replaceKey("/Contents", placeholder(fields.digits));
    return sig;
}

}  // namespace

QPDFObjectHandle signature_dictionary(const SignatureFields &fields) {
    if (fields.document_timestamp) return document_timestamp_dictionary(fields);
    QPDFObjectHandle sig = QPDFObjectHandle::newDictionary();
    sig.replaceKey("/Type", name("/Sig"));
    sig.replaceKey("/Filter", name("/Adobe.PPKLite"));
    sig.replaceKey("/SubFilter", name(fields.subfilter));
    sig.replaceKey("/Prop_Build", build_properties(fields.appname));
    if (fields.certify || !fields.locks.empty()) sig.replaceKey("/Reference", references(fields));
    sig.replaceKey("/Reason", text_string(fields.reason));
    sig.replaceKey("/Location", text_string(fields.location));
    sig.replaceKey("/ContactInfo", text_string(fields.contact));
    sig.replaceKey("/M", text(fields.moddate));
    sig.replaceKey("/Contents", placeholder(fields.digits));
    return sig;
}

std::string range_placeholder(int width) {
    return "_" + std::string(static_cast<std::size_t>(width - 2), 'X') + "_";
}

SettledSignature settle_signature(QPDFObjectHandle dictionary, int number, long offset, int digits,
                                  int width) {
    const std::string head = decimal(number) + " 0 obj\n";
    const std::string placeholder = "/Contents <" + std::string(static_cast<std::size_t>(digits), 'f') + ">";
    std::size_t guess = kFirstGuess;
    for (int round = 0; round < kMaxSettleRounds; ++round) {
        const long a = offset + static_cast<long>(guess);
        dictionary.replaceKey("/ByteRange", byte_range(a, a + digits + 2, width));
        SettledSignature settled;
        settled.body = serialize(dictionary);
        const std::size_t at = settled.body.find(placeholder);
        if (at == std::string::npos) throw std::runtime_error("The signature placeholder was not written.");
        const std::size_t k = head.size() + at + 10;  // the "<" after "/Contents "
        if (k == guess) {
            settled.contents = k;
            settled.a = a;
            return settled;
        }
        guess = k;
    }
    throw std::runtime_error("The signature placeholder offset did not settle.");
}

void fill_signature_placeholders(std::string &text, std::size_t object, std::size_t contents,
                                 int digits, long c, int width) {
    const std::string placeholder = range_placeholder(width);
    const std::size_t at = text.find(placeholder, object);
    std::string value = decimal(c);
    if (at == std::string::npos || at > contents || value.size() > static_cast<std::size_t>(width))
        throw std::runtime_error("The signature byte range placeholder cannot hold its value.");
    value.resize(static_cast<std::size_t>(width), ' ');
    text.replace(at, value.size(), value);
    text.replace(contents + 1, static_cast<std::size_t>(digits), static_cast<std::size_t>(digits), '0');
}

}  // namespace qs
