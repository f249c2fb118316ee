// The native methods of com.tallowbrook.jni.QuillsealJNI. Each one obtains its
// string arguments, makes one library call and answers with one status line.
#include <jni.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include <quillseal/quillseal.h>

// Written by javac -h from the Java class: the definitions below must match it.
#include "com_tallowbrook_jni_QuillsealJNI.h"
#include "jni/java_text.h"
#include "jni/replies.h"

namespace {

using qsjni::Arguments;
using qsjni::Outcome;
using qsjni::run_library_call;

// A text the library allocated for its caller.
struct FreeText {
    void operator()(char *text) const { std::free(text); }
};
using LibraryText = std::unique_ptr<char, FreeText>;

std::string text_of(const LibraryText &text) { return text ? text.get() : ""; }

// A Java boolean counts as set only when it is exactly true.
int flag(jboolean value) { return value == JNI_TRUE ? 1 : 0; }

jstring reply(JNIEnv *env, const Outcome &outcome, const std::string &success,
              std::size_t size = qsjni::kReply) {
    return qsjni::new_java_string(
        env, outcome.result == 0 ? qsjni::success_reply(success, size) : qsjni::failure_reply(outcome.error));
}

jstring refuse_null(JNIEnv *env, const char *name) {
    return qsjni::new_java_string(env, qsjni::null_argument_reply(name));
}

// No C++ exception may reach the JVM: one that leaves a method body becomes a
// pending Java error and the method answers null.
template <typename Body>
jstring answer(JNIEnv *env, Body &&body) noexcept {
    const char *error = "java/lang/Error";
    try {
        return body();
    } catch (const std::bad_alloc &) {
        error = "java/lang/OutOfMemoryError";
    } catch (...) {
    }
    if (!env->ExceptionCheck()) {
        if (jclass kind = env->FindClass(error)) env->ThrowNew(kind, "Failure inside the Quillseal bridge");
    }
    return nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_version(JNIEnv *env, jclass) {
    return answer(env, [&]() -> jstring {
        char text[qsjni::kReply] = "";
        const Outcome outcome = run_library_call([&] { return quillseal_version(text); });
        return reply(env, outcome, text);
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_sign(
    JNIEnv *env, jclass, jstring input, jstring output, jstring location, jstring reason, jstring password,
    jboolean visible, jstring title, jstring author, jstring subject, jstring keywords, jstring configuration,
    jboolean timestamp, jboolean certify) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{input, "input"}, {output, "output"}, {location, "location"},
                                    {reason, "reason"}, {password, "password"}, {title, "title"},
                                    {author, "author"}, {subject, "subject"}, {keywords, "keywords"},
                                    {configuration, "configuration"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        const char *open_password = texts[4];

        pdfsigning_init();
        const Outcome outcome = run_library_call([&] {
            return sign(texts[0], texts[1], texts[2], texts[3], open_password, flag(visible), texts[5], texts[6],
                        texts[7], texts[8], texts[9], flag(timestamp), flag(certify));
        });
        pdfsigning_shutdown();
        return reply(env, outcome, open_password[0] ? "Document encrypted and signed" : "Document signed");
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_signStart(
    JNIEnv *env, jclass, jstring input, jstring output, jstring location, jstring reason, jboolean visible,
    jstring title, jstring author, jstring subject, jstring keywords, jstring configuration, jstring signer_name,
    jstring serial, jboolean certify) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{input, "input"}, {output, "output"}, {location, "location"},
                                    {reason, "reason"}, {title, "title"}, {author, "author"},
                                    {subject, "subject"}, {keywords, "keywords"},
                                    {configuration, "configuration"}, {signer_name, "signerName"},
                                    {serial, "serial"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);

        char *digest = nullptr;
        pdfsigning_init();
        const Outcome outcome = run_library_call([&] {
            return sign_start(texts[0], texts[1], texts[2], texts[3], flag(visible), texts[4], texts[5], texts[6],
                              texts[7], texts[8], texts[9], texts[10], flag(certify), &digest);
        });
        pdfsigning_shutdown();
        const LibraryText hex(digest);
        return reply(env, outcome, text_of(hex));
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_signEnd(JNIEnv *env, jclass, jstring path,
                                                                       jstring signature) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{path, "path"}, {signature, "signature"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        const Outcome outcome = run_library_call([&] { return sign_end(texts[0], texts[1]); });
        return reply(env, outcome, "Document signed");
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_addLtv(JNIEnv *env, jclass, jstring input,
                                                                      jstring output, jstring configuration) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{input, "input"}, {output, "output"}, {configuration, "configuration"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        pdfsigning_init();
        const Outcome outcome = run_library_call([&] { return ltv(texts[0], texts[1], texts[2]); });
        pdfsigning_shutdown();
        return reply(env, outcome, "Document LTVed");
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_timestamp(JNIEnv *env, jclass, jstring input,
                                                                         jstring output, jstring configuration) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{input, "input"}, {output, "output"}, {configuration, "configuration"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        pdfsigning_init();
        const Outcome outcome = run_library_call([&] { return timestamp_document(texts[0], texts[1], texts[2]); });
        pdfsigning_shutdown();
        return reply(env, outcome, "Document timestamped");
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_report(JNIEnv *env, jclass, jstring input,
                                                                      jstring configuration) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{input, "input"}, {configuration, "configuration"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        char *json = nullptr;
        const Outcome outcome = run_library_call([&] { return signature_report(texts[0], texts[1], &json, nullptr); });
        const LibraryText held(json);
        // The report is as long as it needs to be: it is not cut to a status line's length.
        return reply(env, outcome, text_of(held), text_of(held).size() + 3);
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_getMetadata(JNIEnv *env, jclass, jstring path,
                                                                           jstring password) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{path, "path"}, {password, "password"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        char metadata[qsjni::kMetadataReply] = "";
        const Outcome outcome = run_library_call([&] { return get_metadata(texts[0], texts[1], metadata); });
        return reply(env, outcome, metadata, qsjni::kMetadataReply);
    });
}

JNIEXPORT jstring JNICALL Java_com_tallowbrook_jni_QuillsealJNI_getSignerInfo(JNIEnv *env, jclass, jstring pem) {
    return answer(env, [&]() -> jstring {
        const Arguments texts(env, {{pem, "pem"}});
        if (!texts.obtained()) return nullptr;
        if (const char *missing = texts.first_null()) return refuse_null(env, missing);
        char *name = nullptr, *serial = nullptr;
        const Outcome outcome =
            run_library_call([&] { return get_signer_info_from_pem_certificate(texts[0], &name, &serial); });
        const LibraryText held_name(name), held_serial(serial);
        return reply(env, outcome, text_of(held_name) + "|" + text_of(held_serial));
    });
}

}  // extern "C"
