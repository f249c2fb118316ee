#!/usr/bin/python3
"""Form templates as contracts arrive, and form filling as other programs do it.

  forms.py template IN OUT [LOCK]        a template made from IN (two pages at least)
  forms.py fill IN OUT NAME=VALUE... [OPTION...]
                                         appends one incremental update that fills fields

The template's form: the signature fields "parties.buyer" (page 1) and
"parties.seller" (page 2), whose /FT comes from their parent "parties";
"witness", a field whose one widget is hidden; "approver", whose /Lock is LOCK
("include:amount" unless given: "all", "include:a,b" or "exclude:a,b",
optionally followed by "/P" and a level, as in "all/P2"); "Signature10"; and
the fields a signer's counterpart fills in: the text fields "amount" (page 1)
and "notes" (page 2, with a widget of its own), the check box "agree" and the
combo box "country".

fill sets /V of each named field: a text or choice field gets a new
appearance stream the size of its widget, a check box its state (/AS) of
that name. Options make the update more than filling, as a test needs:
  --need-appearances true|false   sets /NeedAppearances in the form
  --move NAME                     moves NAME's widget 10 points to the right
  --wide NAME                     draws NAME's appearance larger than its widget
  --new-widget NAME               gives NAME a second widget on page 1
"""
import sys

import pikepdf
from pikepdf import Array, Dictionary, Name, String


def rect(*numbers):
    return Array(list(numbers))


def widget(pdf, page, box, **entries):
    annot = Dictionary(Type=Name.Annot, Subtype=Name.Widget, Rect=rect(*box), F=4, P=page.obj, **entries)
    made = pdf.make_indirect(annot)
    if "/Annots" not in page.obj:
        page.obj.Annots = Array()
    page.obj.Annots.append(made)
    return made


def stream(pdf, data, box, resources=None):
    s = pikepdf.Stream(pdf, data)
    s.Type = Name.XObject
    s.Subtype = Name.Form
    s.BBox = rect(0, 0, box[2] - box[0], box[3] - box[1])
    if resources is not None:
        s.Resources = resources
    return s


def text_appearance(pdf, box, text, font):
    content = b"/Tx BMC BT /Helv 10 Tf 2 6 Td (%s) Tj ET EMC" % text.encode("latin-1")
    return stream(pdf, content, box, Dictionary(Font=Dictionary(Helv=font)))


def lock_dictionary(written):
    level = None
    if "/P" in written:
        written, level = written.split("/P")
    action, _, names = written.partition(":")
    lock = Dictionary(Type=Name.SigFieldLock, Action=Name("/" + action.capitalize()))
    if action != "all":
        lock.Fields = Array([String(n) for n in names.split(",")])
    if level:
        lock.P = int(level)
    return lock


def template(source, out, lock="include:amount"):
    pdf = pikepdf.open(source)
    one, two = pdf.pages[0], pdf.pages[1]
    helv = pdf.make_indirect(Dictionary(Type=Name.Font, Subtype=Name.Type1, BaseFont=Name.Helvetica,
                                        Encoding=Name.WinAnsiEncoding))
    fields = Array()

    parties = pdf.make_indirect(Dictionary(T=String("parties"), FT=Name.Sig, Kids=Array()))
    for name, page, box in (("buyer", one, (50, 600, 250, 660)), ("seller", two, (300, 100, 500, 160))):
        kid = widget(pdf, page, box, T=String(name), Parent=parties)
        parties.Kids.append(kid)
    fields.append(parties)

    witness = pdf.make_indirect(Dictionary(T=String("witness"), FT=Name.Sig, Kids=Array()))
    hidden = widget(pdf, one, (50, 50, 150, 80), Parent=witness)
    hidden.F = 6  # hidden and printable
    witness.Kids.append(hidden)
    fields.append(witness)

    fields.append(widget(pdf, one, (300, 600, 500, 660), T=String("approver"), FT=Name.Sig,
                         Lock=lock_dictionary(lock)))
    fields.append(widget(pdf, one, (0, 0, 0, 0), T=String("Signature10"), FT=Name.Sig))

    box = (50, 500, 250, 530)
    amount = widget(pdf, one, box, T=String("amount"), FT=Name.Tx, V=String(""), DA=String("/Helv 10 Tf 0 g"))
    amount.AP = Dictionary(N=pdf.make_indirect(text_appearance(pdf, box, "", helv)))
    fields.append(amount)
    notes = pdf.make_indirect(Dictionary(T=String("notes"), FT=Name.Tx, V=String(""), DA=String("/Helv 10 Tf 0 g"),
                                         Kids=Array()))
    notes.Kids.append(widget(pdf, two, box, Parent=notes))
    fields.append(notes)

    box = (300, 500, 320, 520)
    check = widget(pdf, one, box, T=String("agree"), FT=Name.Btn, V=Name.Off, AS=Name.Off)
    check.AP = Dictionary(N=Dictionary(Yes=pdf.make_indirect(stream(pdf, b"0 0 20 20 re f", box)),
                                       Off=pdf.make_indirect(stream(pdf, b"", box))))
    fields.append(check)

    box = (350, 500, 450, 520)
    combo = widget(pdf, one, box, T=String("country"), FT=Name.Ch, Ff=1 << 17, Opt=Array([String("DE"), String("FR")]),
                   V=String("DE"), DA=String("/Helv 10 Tf 0 g"))
    combo.AP = Dictionary(N=pdf.make_indirect(text_appearance(pdf, box, "DE", helv)))
    fields.append(combo)

    pdf.Root.AcroForm = Dictionary(Fields=fields, DA=String("/Helv 0 Tf 0 g"), DR=Dictionary(Font=Dictionary(Helv=helv)))
    pdf.save(out)


def fields_by_name(pdf):
    found = {}

    def walk(items, parent):
        for field in items:
            own = str(field.T) if "/T" in field else ""
            name = parent + "." + own if parent and own else (own or parent)
            if "/Kids" in field and any("/T" in kid for kid in field.Kids):
                walk(field.Kids, name)
            else:
                found[name] = field

    walk(pdf.Root.AcroForm.Fields, "")
    return found


def widgets_of(field):
    return [field] if field.get("/Subtype") == Name.Widget else list(field.Kids)


class Update:
    """The objects one incremental update writes, and the update's bytes."""

    def __init__(self, pdf, path):
        self.pdf = pdf
        self.original = open(path, "rb").read()
        self.next = int(pdf.trailer.Size)
        self.objects = {}  # number -> (generation, body)

    def rewrite(self, obj):
        self.objects[obj.objgen[0]] = obj

    def add(self, obj):
        made = self.pdf.make_indirect(obj)
        self.objects[made.objgen[0]] = made
        return made

    def body(self, obj):
        if isinstance(obj, pikepdf.Stream):
            data = obj.read_raw_bytes()
            entries = Dictionary({key: value for key, value in obj.stream_dict.items() if key != "/Length"})
            entries.Length = len(data)
            return entries.unparse() + b"\nstream\n" + data + b"\nendstream"
        return obj.unparse(resolved=True)

    def write(self, out):
        text = bytearray(self.original)
        if not text.endswith(b"\n"):
            text += b"\n"
        offsets = {}
        for number in sorted(self.objects):
            obj = self.objects[number]
            offsets[number] = (len(text), obj.objgen[1])
            text += b"%d %d obj\n%s\nendobj\n" % (number, obj.objgen[1], self.body(obj))
        section = len(text)
        text += b"xref\n"
        for number in sorted(offsets):
            offset, generation = offsets[number]
            text += b"%d 1\n%010d %05d n\r\n" % (number, offset, generation)
        prev = int(self.original[self.original.rindex(b"startxref") + 9:].split()[0])
        size = max(self.next, max(offsets) + 1)
        trailer = Dictionary(Size=size, Root=self.pdf.Root, Prev=prev)
        for key in ("/Info", "/ID"):
            if key in self.pdf.trailer:
                trailer[key] = self.pdf.trailer[key]
        text += b"trailer\n" + trailer.unparse() + b"\nstartxref\n%d\n%%%%EOF\n" % section
        open(out, "wb").write(bytes(text))


def fill(source, out, args):
    pdf = pikepdf.open(source)
    update = Update(pdf, source)
    fields = fields_by_name(pdf)
    helv = pdf.Root.AcroForm.DR.Font.Helv
    options, values = {}, []
    while args:
        if args[0].startswith("--"):
            options[args[0]] = args[1]
            args = args[2:]
        else:
            values.append(args.pop(0))
    for item in values:
        name, _, value = item.partition("=")
        field = fields[name]
        update.rewrite(field)
        for each in widgets_of(field):
            update.rewrite(each)
            if field.get("/FT") == Name.Btn:
                each.AS = Name("/" + value)
                continue
            box = [float(v) for v in each.Rect]
            if options.get("--wide") == name:
                box[2] += 300
            each.AP = Dictionary(N=update.add(text_appearance(pdf, box, value, helv)))
        field.V = Name("/" + value) if field.get("/FT") == Name.Btn else String(value)
    if "--need-appearances" in options:
        pdf.Root.AcroForm.NeedAppearances = options["--need-appearances"] == "true"
        update.rewrite(pdf.Root)
    if "--move" in options:
        moved = widgets_of(fields[options["--move"]])[0]
        moved.Rect = rect(*[float(v) + (10 if i % 2 == 0 else 0) for i, v in enumerate(moved.Rect)])
        update.rewrite(moved)
    if "--new-widget" in options:
        field = fields[options["--new-widget"]]
        page = pdf.pages[0]
        extra = update.add(Dictionary(Type=Name.Annot, Subtype=Name.Widget, Rect=rect(50, 400, 250, 430), F=4,
                                      P=page.obj, Parent=field))
        if "/Kids" not in field:
            field.Kids = Array()
        field.Kids.append(extra)
        page.obj.Annots.append(extra)
        update.rewrite(page.obj)
        update.rewrite(field)
    update.write(out)


if __name__ == "__main__":
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "template":
        template(*arguments)
    elif command == "fill":
        fill(arguments[0], arguments[1], arguments[2:])
    else:
        sys.exit(__doc__)
