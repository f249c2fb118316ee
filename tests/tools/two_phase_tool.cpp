// The parties of a two-phase signing, one process each, as the tests run them:
//   two_phase_tool start INPUT OUTPUT CONFIG [SIGNER SERIAL]   prints "0#<digest>"
//   two_phase_tool hash CONFIG DIGEST                         prints "0#<signature>"
//   two_phase_tool end PREPARED SIGNATURE                     prints "0#Document signed"
// A failure prints "-1#" and the library's message. Only the public header is used.
#include <quillseal/quillseal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int status(int rc, const std::string &success) {
    if (rc == 0) {
        std::printf("0#%s\n", success.c_str());
        return 0;
    }
    char message[256];
    handle_error_message(message, 0);
    std::printf("-1#%s\n", message);
    return 1;
}

// Takes a malloc'd text from the library.
std::string take(char *text) {
    std::string copy = text ? text : "";
    std::free(text);
    return copy;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    pdfsigning_init_cmd();
    int rc = 2;
    if (command == "start" && (argc == 5 || argc == 7)) {
        char *digest = nullptr;
        const char *signer = argc == 7 ? argv[5] : "Test Signer", *serial = argc == 7 ? argv[6] : "01";
        const int result = sign_start(argv[2], argv[3], "Berlin", "Approved", 0, "Contract", "Author", "Subject",
                                      "Keywords", argv[4], signer, serial, 0, &digest);
        rc = status(result, take(digest));
    } else if (command == "hash" && argc == 4) {
        char *signature = nullptr;
        const int result = sign_hash(argv[2], argv[3], 0, &signature);
        rc = status(result, take(signature));
    } else if (command == "end" && argc == 4) {
        rc = status(sign_end(argv[2], argv[3]), "Document signed");
    } else {
        std::fprintf(stderr, "usage: two_phase_tool start|hash|end ...\n");
    }
    pdfsigning_shutdown();
    return rc;
}
