import com.tallowbrook.jni.QuillsealJNI;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.List;

/**
 * Drives every native method of the bridge the way a Java application does,
 * judging signed files with pdfsig. Arguments: mode ("all" or "errno"), the
 * fixtures folder, the quillseal program, the two-phase tool (the remote
 * signing service), a work folder and, for the PAdES levels, the folder of a
 * test PKI whose revocation services and time-stamping authority run at the
 * given base URL, then the base URL of a remote signing service and its access
 * token. Prints one line per check; exits 1 when one failed.
 */
public final class QuillsealJNITest {
    private static int failures = 0;
    private static Path fixtures, work;
    private static String cli, tool;

    public static void main(String[] args) throws Exception {
        fixtures = Path.of(args[1]);
        cli = args[2];
        tool = args[3];
        work = Path.of(args[4]);
        if (args[0].equals("errno")) {
            systemErrorReply();
        } else if (args[0].equals("device")) {
            deviceKey(args[5], args[6]);
        } else {
            String conf = writeConfig();
            version();
            sign(conf);
            twoPhase(conf);
            metadata();
            signerInfo();
            if (args.length > 6) pades(Path.of(args[5]), args[6]);
            if (args.length > 8) remote(args[7], args[8]);
        }
        System.out.println(failures == 0 ? "all checks passed" : failures + " checks failed");
        System.exit(failures == 0 ? 0 : 1);
    }

    // ---- the methods ----

    static void version() {
        expectStart(QuillsealJNI.version(), "0#Quillseal v2.7.1, ", "version");
    }

    static void sign(String conf) throws Exception {
        String in = fixture("one-page.pdf"), out = file("signed.pdf");
        String title = "Vertrag \u00fcber \uD83D\uDE00";
        expectEquals(QuillsealJNI.sign(in, out, "Berlin", "Approved", "", false, title, "Ann", "Sale", "a, b",
                conf, false, false), "0#Document signed", "sign");
        expectValid(out, "sign");
        expectEquals(QuillsealJNI.getMetadata(out, ""), "0#1|" + title + "|Ann|Sale|a, b",
                "getMetadata gives back the title beyond ASCII");

        String json = "{\"conffile\": \"" + conf + "\", \"hashalgo\": \"SHA512\"}";
        String sha512 = file("signed-sha512.pdf");
        expectEquals(QuillsealJNI.sign(in, sha512, "", "", "", false, "", "", "", "", json, false, true),
                "0#Document signed", "sign, JSON configuration, certifying");
        expect(run("pdfsig", sha512).contains("SHA-512"), "sign, JSON hash algorithm reaches the signature", "");
        expectValid(sha512, "sign, JSON configuration");

        String named = file("signed-named.pdf");
        String field = "{\"conffile\": \"" + conf + "\", \"sigfield\": \"parties.buyer\"}";
        expectEquals(QuillsealJNI.sign(in, named, "", "", "", false, "", "", "", "", field, false, false),
                "0#Document signed", "sign, JSON configuration naming the field");
        expect(run("pdfsig", named).contains("Signature Field Name: parties.buyer"),
                "sign, the field the configuration names holds the signature", "");

        String encrypted = file("encrypted.pdf");
        expectEquals(QuillsealJNI.sign(in, encrypted, "", "", "open-pw", false, "", "", "", "", conf, false, false),
                "0#Document encrypted and signed", "sign with an open password");
        String opened = run("pdfsig", "-upw", "open-pw", encrypted);
        expect(opened.contains("Signature is Valid") && opened.contains("Total document signed"),
                "sign with an open password: pdfsig finds the signature valid with the password", opened);
        expect(!run("pdfsig", encrypted).contains("Signature is Valid"),
                "sign with an open password: the output does not open without it", "");

        String missing = file("none.conf");
        expectEquals(QuillsealJNI.sign(in, file("x.pdf"), "", "", "", false, "", "", "", "", missing, false, false),
                "-1#Error opening file " + missing + "... Please provide a config file! [-999]",
                "sign without a configuration file");
        expectEquals(QuillsealJNI.sign(in, file("x.pdf"), "", "", "", false, null, "", "", "", conf, false, false),
                "-1#The argument title is null. [-999]", "sign with a null title");
        expect(!Files.exists(work.resolve("x.pdf")), "failed signs leave no output", "");
    }

    static void twoPhase(String conf) throws Exception {
        // The output path holds a character beyond the BMP: it reaches the library whole.
        // A visible signature whose text names the signer given to the first phase.
        String prepared = file("vertrag-\uD83D\uDE00.pdf");
        String json = "{\"conffile\": \"" + conf + "\", \"sigtext\": \"Signed by %N\"}";
        String started = QuillsealJNI.signStart(fixture("one-page.pdf"), prepared, "Berlin", "Approved", true,
                "Contract", "Ann", "Sale", "a, b", json, "Remote Signer", "01", false);
        expect(started.matches("0#[0-9a-f]{64}"), "signStart answers the SHA-256 digest", started);
        expect(Files.exists(Path.of(prepared)), "signStart prepares the named file", prepared);

        String signature = run(tool, "hash", conf, started.substring(2)).trim();
        expect(signature.startsWith("0#"), "the signing service signs the digest", signature);
        String hex = signature.substring(2);
        expectEquals(QuillsealJNI.signEnd(prepared, hex), "0#Document signed", "signEnd");
        expectValid(prepared, "signStart and signEnd");
        String expanded = file("expanded.pdf");
        run("qpdf", "--qdf", "--object-streams=disable", prepared, expanded);
        expect(Files.readString(Path.of(expanded), StandardCharsets.ISO_8859_1).contains("(Signed by Remote Signer)"),
                "the appearance names the signer given to signStart", "");
        expectEquals(QuillsealJNI.getMetadata(prepared, ""), "0#1|Contract|Ann|Sale|a, b", "getMetadata of it");

        String again = file("again.pdf");
        String digest = QuillsealJNI.signStart(fixture("one-page.pdf"), again, "", "", false, "", "", "", "", conf,
                "", "", false);
        expect(digest.startsWith("0#"), "signStart, second file", digest);
        expectEquals(QuillsealJNI.signEnd(again, null), "-1#The argument signature is null. [-999]",
                "signEnd with a null signature");
        expect(Files.exists(Path.of(again)), "a null signature leaves the prepared file", again);
        String tooLong = "30".repeat(2501);
        expectEquals(QuillsealJNI.signEnd(again, tooLong),
                "-1#Byte range underestimated... add extrarange=100 to config file (add to existing value). [-999]",
                "signEnd with one pair more than the placeholder");
        expect(!Files.exists(Path.of(again)), "the failed second phase removes the prepared file", again);

        String plain = file("plain.pdf");
        Files.copy(Path.of(fixture("one-page.pdf")), Path.of(plain));
        expectEquals(QuillsealJNI.signEnd(plain, hex), "-1#No signature found! [-999]",
                "signEnd on a file with no signature field");
        expect(Files.exists(Path.of(plain)), "a file that was not prepared is kept", plain);
        expectEquals(QuillsealJNI.signStart(fixture("one-page.pdf"), file("y.pdf"), "", "", false, "", "", "", "",
                conf, null, "", false), "-1#The argument signerName is null. [-999]", "signStart, null signer");
    }

    // A PAdES signature with its timestamp, its validation data and a document
    // timestamp over both, one method each.
    static void pades(Path pki, String base) throws Exception {
        String stored = run(cli, "-e", "demo-pass").trim();
        stored = stored.substring(stored.indexOf(": ") + 2);
        Path conf = work.resolve("pades.conf");
        Files.writeString(conf, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + pki.resolve("signer.p12")
                + "\ncertpasswd=" + stored + "\nextrarange=4000\ncachedir=" + work + "\ntsaurl=" + base + "/tsa\n");
        String json = "{\"conffile\": \"" + conf + "\", \"subfilter\": \"ETSI.CAdES.detached\"}";
        String signed = file("pades-t.pdf"), ltv = file("pades-lt.pdf"), stamped = file("pades-lta.pdf");
        expectEquals(QuillsealJNI.sign(fixture("one-page.pdf"), signed, "", "", "", false, "", "", "", "", json,
                true, false), "0#Document signed", "sign, PAdES with a timestamp");
        expect(run("pdfsig", signed).contains("ETSI.CAdES.detached"), "sign, PAdES sub-filter", "");
        expectValid(signed, "sign, PAdES");
        expectEquals(QuillsealJNI.addLtv(signed, ltv, conf.toString()), "0#Document LTVed", "addLtv");
        expectEquals(QuillsealJNI.timestamp(ltv, stamped, conf.toString()), "0#Document timestamped", "timestamp");
        expectEquals(run(cli, "verify", "-i", stamped).trim(),
                "0#Document signature verified [Signer: LTV Time-Stamping Authority]", "the document timestamp verifies");
        expect(run("pdfsig", stamped).contains("Signature is Valid"), "the PAdES signature stays valid", "");
        Files.writeString(conf, "trustca=" + pki.resolve("root").resolve("ca.pem") + "\n", StandardOpenOption.APPEND);
        String report = QuillsealJNI.report(stamped, conf.toString());
        expect(report.startsWith("0#{") && report.contains("\"valid\": true") && report.contains("\"B-LTA\""),
                "report of every signature", report);
        expectEquals(QuillsealJNI.report(file("missing.pdf"), conf.toString()),
                "-1#No such file or directory [File: " + file("missing.pdf") + "] [-999]", "report of a missing file");

        String none = work.resolve("none.conf").toString();
        Files.writeString(Path.of(none), "cachedir=" + work + "\n");
        expectEquals(QuillsealJNI.timestamp(ltv, file("z.pdf"), none), "-1#TSA URL not set in config file. [-999]",
                "timestamp without an authority");
        expectEquals(QuillsealJNI.addLtv(fixture("one-page.pdf"), file("z.pdf"), none),
                "-1#The document may not be signed... [-999]", "addLtv of an unsigned document");
        expectEquals(QuillsealJNI.timestamp(null, file("z.pdf"), none), "-1#The argument input is null. [-999]",
                "timestamp with a null input");
        expect(!Files.exists(work.resolve("z.pdf")), "failed calls leave no output", "");
    }

    // A key held by a remote signing service, chosen by the JSON configuration
    // a Java application hands in.
    static void remote(String url, String token) throws Exception {
        String json = "{\"conffile\": \"" + writeConfig() + "\", \"certstore\": \"CSC\", \"cscurl\": \"" + url
                + "\", \"csctoken\": \"" + token + "\", \"csccredential\": \"ec\"}";
        String out = file("remote.pdf");
        expectEquals(QuillsealJNI.sign(fixture("one-page.pdf"), out, "", "", "", true, "", "", "", "", json, false,
                false), "0#Document signed", "sign with a key in a remote signing service");
        expectValid(out, "sign with a key in a remote signing service");
        expect(run("pdfsig", out).contains("Common Name: EC Signer"), "the remote credential's certificate signs", "");
    }

    // A token key through the store route, signing for two configurations in
    // turn in this one process: the wrong PIN fails right after the right one
    // logged the token in, and the right one signs again after it.
    static void deviceKey(String right, String wrong) throws Exception {
        String in = fixture("one-page.pdf");
        String[][] steps = {{right, "0#Document signed"}, {wrong, "-1#No private key could be opened at "},
                {right, "0#Document signed"}, {wrong, "-1#No private key could be opened at "}};
        for (int i = 0; i < steps.length; i++) {
            String out = file("device-" + i + ".pdf");
            String what = "token key, step " + (i + 1) + (steps[i][0].equals(right) ? ", its PIN" : ", a wrong PIN");
            String reply = QuillsealJNI.sign(in, out, "", "", "", false, "", "", "", "", steps[i][0], false, false);
            expectStart(reply, steps[i][1], what);
            if (reply.startsWith("0#")) expectValid(out, what);
            else expect(!Files.exists(Path.of(out)), what + ": no output", out);
        }
    }

    static void metadata() throws Exception {
        Path emoji = work.resolve("emoji.pdf");
        Files.write(emoji, onePage("<< /Title <FEFF00C400720067006500720020D83DDE00> >>"));
        expectEquals(QuillsealJNI.getMetadata(emoji.toString(), ""), "0#1|\u00c4rger \uD83D\uDE00|||",
                "getMetadata of a UTF-16BE title beyond the BMP");

        StringBuilder wide = new StringBuilder("<FEFF");
        for (int i = 0; i < 300; i++) wide.append("00E9");
        Path large = work.resolve("large.pdf");
        Files.write(large, onePage("<< /Title " + wide + "> /Keywords (" + "k".repeat(600) + ") >>"));
        String reply = QuillsealJNI.getMetadata(large.toString(), "");
        byte[] utf8 = reply.getBytes(StandardCharsets.UTF_8);
        expect(utf8.length <= 511 && reply.startsWith("0#1|\u00e9\u00e9") && reply.endsWith("kkk")
                && !reply.contains("\uFFFD"), "a long metadata reply is cut whole characters short of 512 bytes",
                utf8.length + " bytes");

        String missing = file("missing.pdf");
        expectEquals(QuillsealJNI.getMetadata(missing, ""),
                "-1#No such file or directory [File: " + missing + "] [-999]", "getMetadata of a missing file");
        String deep = work.resolve("d".repeat(240)).resolve("missing.pdf").toString();
        String cut = QuillsealJNI.getMetadata(deep, "");
        expect(cut.startsWith("-1#No such file or directory") && cut.endsWith(" [-999]")
                && cut.getBytes(StandardCharsets.UTF_8).length <= 255, "a long failure reply keeps its number", cut);
        expectEquals(QuillsealJNI.getMetadata(null, ""), "-1#The argument path is null. [-999]",
                "getMetadata with a null path");
    }

    static void signerInfo() throws Exception {
        String pem = Files.readString(Path.of(fixture("signer.pem")));
        String serial = run("openssl", "x509", "-in", fixture("signer.pem"), "-noout", "-serial").trim();
        expectEquals(QuillsealJNI.getSignerInfo(pem), "0#Test Signer|" + serial.substring("serial=".length()),
                "getSignerInfo");
        expectEquals(QuillsealJNI.getSignerInfo("no certificate here"),
                "-1#Problem reading signer certificate from stream... [-999]", "getSignerInfo without a PEM");
        expectEquals(QuillsealJNI.getSignerInfo(null), "-1#The argument pem is null. [-999]",
                "getSignerInfo with null");
    }

    // Run with a file size limit that the signed output exceeds: the library
    // leaves errno set, and the reply names the system error and its number.
    static void systemErrorReply() {
        String out = file("too-large.pdf");
        expectEquals(QuillsealJNI.sign(fixture("one-page.pdf"), out, "", "", "", false, "", "", "", "",
                work.resolve("q.conf").toString(), false, false), "-1#File too large [27]",
                "sign beyond the file size limit");
        expect(!Files.exists(Path.of(out)), "the partial output is removed", out);
    }

    // ---- helpers ----

    static String writeConfig() throws Exception {
        String stored = run(cli, "-e", "demo-pass").trim();
        stored = stored.substring(stored.indexOf(": ") + 2);
        Path conf = work.resolve("q.conf");
        Files.writeString(conf, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + fixture("signer.p12")
                + "\ncertpasswd=" + stored + "\n");
        return conf.toString();
    }

    // A one-page PDF with the given information dictionary, offsets computed.
    static byte[] onePage(String info) {
        String[] objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>", info};
        StringBuilder pdf = new StringBuilder("%PDF-1.7\n");
        List<Integer> offsets = new ArrayList<>();
        for (int i = 0; i < objects.length; i++) {
            offsets.add(pdf.length());
            pdf.append(i + 1).append(" 0 obj\n").append(objects[i]).append("\nendobj\n");
        }
        int xref = pdf.length();
        pdf.append("xref\n0 ").append(objects.length + 1).append("\n0000000000 65535 f\r\n");
        for (int offset : offsets) pdf.append(String.format("%010d 00000 n\r\n", offset));
        pdf.append("trailer\n<< /Size ").append(objects.length + 1).append(" /Root 1 0 R /Info 4 0 R >>\nstartxref\n")
                .append(xref).append("\n%%EOF\n");
        return pdf.toString().getBytes(StandardCharsets.US_ASCII);
    }

    static String fixture(String name) { return fixtures.resolve(name).toString(); }

    static String file(String name) { return work.resolve(name).toString(); }

    static String run(String... command) throws IOException, InterruptedException {
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        builder.environment().remove("LD_PRELOAD");  // the sanitizer runtime is this JVM's, not the tools'
        Process process = builder.start();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream in = process.getInputStream()) {
            in.transferTo(out);
        }
        process.waitFor();
        return out.toString(StandardCharsets.UTF_8);
    }

    static void expectValid(String pdf, String what) throws Exception {
        String report = run("pdfsig", pdf);
        expect(report.contains("Signature is Valid") && report.contains("Total document signed"),
                what + ": pdfsig finds the signature valid", report);
    }

    static void expectEquals(String got, String want, String what) {
        expect(want.equals(got), what, got);
    }

    static void expectStart(String got, String prefix, String what) {
        expect(got != null && got.startsWith(prefix), what, got);
    }

    static void expect(boolean ok, String what, String got) {
        if (ok) {
            System.out.println("ok   " + what);
        } else {
            failures++;
            System.out.println("FAIL " + what + ": " + got);
        }
    }
}
