// The revocation cache: DER files named by serial number or URL digest, and
// the fetch-time database, a JSON object of key and fetch time.
#include "crypto/revocation/revocation_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include <json-c/json.h>
#include <openssl/evp.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "crypto/hex.h"

namespace qs {
namespace {

constexpr const char *kDatabaseName = "/quillseal-cache.db";
constexpr const char *kTemporaryName = "/quillseal-cache-XXXXXX";
constexpr std::size_t kLongestKey = 255;
constexpr std::size_t kLargestDatabase = 1u << 20;
constexpr std::size_t kLargestCacheFile = 64u << 20;

// The fetch times of one cache directory, read from its database once.
struct FetchTimes {
    std::string dir;
    bool loaded = false;
    std::vector<std::pair<std::string, long>> entries;  // in database order
};

FetchTimes &process_table() {
    static FetchTimes table;
    return table;
}

// The cache file at path, opened for reading when it is a regular file the
// running user owns under that very name: a symbolic link is not followed and
// a second name (a hard link another account made) is not accepted. The
// cache directory is shared (the default is /tmp): a file another account put
// there is not read.
FilePtr open_own_file(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) {
        ::close(fd);
        return nullptr;
    }
    FilePtr file(fdopen(fd, "rb"));
    if (!file) ::close(fd);
    return file;
}

// The whole content of a cache file of at most cap bytes (open_own_file).
bool read_regular_file(const std::string &path, std::size_t cap, std::string &bytes) {
    FilePtr file = open_own_file(path);
    if (!file) return false;
    bytes.clear();
    char block[1 << 14];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
        if (bytes.size() + got > cap) return false;
        bytes.append(block, got);
    }
    return !std::ferror(file.get());
}

void load_database(FetchTimes &table, const std::string &dir) {
    table = FetchTimes{dir, true, {}};
    std::string text;
    if (!cache_directory_problem(dir).empty() || !read_regular_file(dir + kDatabaseName, kLargestDatabase, text))
        return;
    JsonPtr root(json_tokener_parse(text.c_str()));
    if (!root || !json_object_is_type(root.get(), json_type_object)) return;
    json_object_iterator it = json_object_iter_begin(root.get());
    const json_object_iterator end = json_object_iter_end(root.get());
    for (; !json_object_iter_equal(&it, &end) && table.entries.size() < kFetchTimeEntries;
         json_object_iter_next(&it)) {
        const std::string key = json_object_iter_peek_name(&it);
        json_object *value = json_object_iter_peek_value(&it);
        if (key.size() > kLongestKey || !json_object_is_type(value, json_type_int)) continue;
        const long time = static_cast<long>(json_object_get_int64(value));
        if (time > 0) table.entries.emplace_back(key, time);
    }
}

FetchTimes &table_of(const std::string &dir) {
    FetchTimes &table = process_table();
    if (!table.loaded || table.dir != dir) load_database(table, dir);
    return table;
}

// Writes bytes to a new temporary file in dir and renames it to path.
bool write_atomically(const std::string &dir, const std::string &path, std::string_view bytes) {
    if (!cache_directory_problem(dir).empty()) return false;
    std::string name = dir + kTemporaryName;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // Revocation data is public; other accounts sharing the directory may read it.
    fchmod(fd, 0644);
    FilePtr file(fdopen(fd, "wb"));
    if (!file) {
        close(fd);
        unlink(name.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed || std::rename(name.c_str(), path.c_str()) != 0) {
        unlink(name.c_str());
        return false;
    }
    return true;
}

void write_database(const FetchTimes &table) {
    JsonPtr root(json_object_new_object());
    if (!root) return;
    for (const auto &[key, time] : table.entries)
        json_object_object_add(root.get(), key.c_str(), json_object_new_int64(time));
    const char *text = json_object_to_json_string(root.get());
    if (text) write_atomically(table.dir, table.dir + kDatabaseName, text);
}

}  // namespace

std::string cache_directory_problem(const std::string &dir) {
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::string();
    if (info.st_uid != geteuid() && info.st_uid != 0)
        return format("The cache directory belongs to another user, who could put revocation data there in place of "
                      "the data fetched; set cachedir to a directory of your own [Directory: %s]",
                      dir.c_str());
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)
        return format("The cache directory can be written by other users, who could replace the revocation data "
                      "cached there; set cachedir to a directory only its owner can write [Directory: %s]",
                      dir.c_str());
    return std::string();
}

int refuse_unsafe_cache_directory(const std::string &dir) {
    const std::string problem = cache_directory_problem(dir);
    if (problem.empty()) return 0;
    report(problem);
    return -1;
}

std::string cache_directory(const char *configured) {
    return configured && configured[0] != '\0' ? std::string(configured) : std::string("/tmp");
}

std::string ocsp_basic_cache_path(const std::string &dir, const std::string &serial) {
    return dir + "/quillseal-ocsp-basic-" + serial + ".der";
}

std::string ocsp_cache_path(const std::string &dir, const std::string &serial) {
    return dir + "/quillseal-ocsp-" + serial + ".der";
}

std::string crl_cache_path(const std::string &dir, const std::string &url_digest) {
    return dir + "/quillseal-crl-" + url_digest + ".der";
}

std::string crl_cache_key(const std::string &url) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(url.data(), url.size(), digest, &length, EVP_sha1(), nullptr) != 1) return std::string();
    return upper_hex(digest, length);
}

long fetch_time(const std::string &dir, const std::string &key) {
    for (const auto &entry : table_of(dir).entries)
        if (entry.first == key) return entry.second;
    return 0;
}

long store_fetch_time(const std::string &dir, const std::string &key, long time) {
    if (key.empty() || key.size() > kLongestKey || time <= 0) return time;
    FetchTimes &table = table_of(dir);
    auto same = std::find_if(table.entries.begin(), table.entries.end(),
                             [&](const auto &entry) { return entry.first == key; });
    if (same != table.entries.end()) {
        same->second = time;
    } else if (table.entries.size() < kFetchTimeEntries) {
        table.entries.emplace_back(key, time);
    } else {
        auto newest = std::max_element(table.entries.begin(), table.entries.end(),
                                       [](const auto &a, const auto &b) { return a.second < b.second; });
        *newest = {key, time};
    }
    write_database(table);
    return time;
}

bool read_fresh_file(const std::string &dir, const std::string &path, const std::string &key, long window,
                     std::string &bytes) {
    const long stored = fetch_time(dir, key);
    const long age = static_cast<long>(std::time(nullptr)) - stored;
    // A time in the future (a clock set back, a database written by hand) is never fresh.
    if (stored == 0 || age < 0 || age > window || !cache_directory_problem(dir).empty()) return false;
    return read_regular_file(path, kLargestCacheFile, bytes);
}

bool write_cache_file(const std::string &dir, const std::string &path, const std::string &key,
                      std::string_view bytes) {
    if (!write_atomically(dir, path, bytes)) return false;
    store_fetch_time(dir, key, static_cast<long>(std::time(nullptr)));
    return true;
}

}  // namespace qs

extern "C" {

QS_API long checkDataBase(const char *key, long value, const char *cachedir) {
    return qs::guarded([&]() -> long {
        if (!key || !cachedir || cachedir[0] == '\0') return 0;
        if (value == -1) return qs::fetch_time(cachedir, key);
        return qs::store_fetch_time(cachedir, key, value);
    });
}

}  // extern "C"
