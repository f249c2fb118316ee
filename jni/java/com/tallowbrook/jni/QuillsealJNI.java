package com.tallowbrook.jni;

/**
 * The native methods of libquillsealjni. Every method answers with one status
 * line: "0#" followed by the result, or "-1#" followed by the reason and a
 * number in brackets (the system error number, or -999 for the library's own
 * message). A method answers null only when the JVM cannot hand one of its
 * string arguments to native code.
 *
 * The library keeps its last message process-wide, so calls are serialised:
 * every method holds the lock of this class while it runs.
 *
 * The bridge is loaded from the path in the system property
 * "quillseal.jni.library" when it is set, else as "quillsealjni" from
 * java.library.path.
 */
public final class QuillsealJNI {
    static {
        String path = System.getProperty("quillseal.jni.library");
        if (path != null && !path.isEmpty()) {
            System.load(path);
        } else {
            System.loadLibrary("quillsealjni");
        }
    }

    private QuillsealJNI() {}

    /** "0#" and the library's version text. */
    public static synchronized native String version();

    /**
     * Signs input into output in one call; with a non-empty password the output
     * is also encrypted. configuration: a key=value file path, "" for the
     * default file, or a JSON text.
     */
    public static synchronized native String sign(String input, String output, String location, String reason,
            String password, boolean visible, String title, String author, String subject, String keywords,
            String configuration, boolean timestamp, boolean certify);

    /**
     * First phase of two-phase signing: prepares output and answers "0#" with
     * the hex digest that the signature must cover.
     */
    public static synchronized native String signStart(String input, String output, String location,
            String reason, boolean visible, String title, String author, String subject, String keywords,
            String configuration, String signerName, String serial, boolean certify);

    /** Second phase: writes the hex text of the CMS signature into the file prepared by signStart. */
    public static synchronized native String signEnd(String path, String signature);

    /**
     * Appends the long-term-validation data of every signature of input (a
     * Document Security Store) into output. configuration as for sign; no key
     * store is needed.
     */
    public static synchronized native String addLtv(String input, String output, String configuration);

    /**
     * Appends a document timestamp (sub-filter ETSI.RFC3161) from the
     * authority tsaurl of the configuration into output; no key store is needed.
     */
    public static synchronized native String timestamp(String input, String output, String configuration);

    /**
     * "0#" followed by the JSON validation report of every signature and
     * document timestamp of input (see the README's "What report tells");
     * "-1#..." when the document cannot be read. configuration may name trustca.
     */
    public static synchronized native String report(String input, String configuration);

    /** "0#pages|title|author|subject|keywords"; password is "" for an unencrypted document. */
    public static synchronized native String getMetadata(String path, String password);

    /** "0#name|serial" of the certificate in a PEM text. */
    public static synchronized native String getSignerInfo(String pem);
}
