// The cache of revocation data in the cache directory: OCSP responses and
// CRLs as DER files, and the fetch-time database that says how old each one
// is. Every file is written under a temporary name in the cache directory and
// renamed into place, so a crash or a concurrent run never leaves a
// half-written file that a later run would trust. Only regular files the
// running user owns are read, never through a symbolic link: another account
// sharing the directory can plant none. A directory in which another user
// could replace or remove the files a run put there is not used at all.
#pragma once

#include <string>
#include <string_view>

namespace qs {

// A cached file is used while now minus its fetch time is at most its window.
constexpr long kOcspFreshSeconds = 3600;
constexpr long kCrlFreshSeconds = 86400;

// Entries the fetch-time table holds; when all are taken, a new key replaces
// the entry with the greatest (most recent) time.
constexpr std::size_t kFetchTimeEntries = 100;

// The cache directory a configuration names; "/tmp" when it names none.
std::string cache_directory(const char *configured);

// Why the cache directory may not be used, or an empty text: it belongs to
// another user (root aside), or users other than its owner may write to it
// without the sticky bit (which /tmp has) keeping them from replacing or
// removing what others put there. The test goes by the directory's owner and
// mode, so it holds for root too. A directory that does not exist is no
// problem here; nothing is cached in it.
std::string cache_directory_problem(const std::string &dir);

// Reports the problem of the cache directory and returns -1, or returns 0.
int refuse_unsafe_cache_directory(const std::string &dir);

// "<dir>/quillseal-ocsp-basic-<serial>.der": the signer's BasicOCSPResponse.
std::string ocsp_basic_cache_path(const std::string &dir, const std::string &serial);
// "<dir>/quillseal-ocsp-<serial>.der": a complete OCSPResponse for LTV data.
std::string ocsp_cache_path(const std::string &dir, const std::string &serial);
// "<dir>/quillseal-crl-<digest>.der": the CRL fetched from a distribution point.
std::string crl_cache_path(const std::string &dir, const std::string &url_digest);
// 40 uppercase hex digits of the SHA-1 of a CRL URL: its cache key.
std::string crl_cache_key(const std::string &url);

// The fetch time stored under key (0 when there is none). The table of a
// cache directory is read from its database the first time it is needed;
// a database that cannot be read, is owned by another user, or holds no JSON
// object, counts as empty.
long fetch_time(const std::string &dir, const std::string &key);
// Stores time under key and writes the database. Returns time.
long store_fetch_time(const std::string &dir, const std::string &key, long time);

// The bytes of a cached file whose fetch time is within window seconds of
// now; false when the file is missing, unreadable, no regular file (a link
// is not followed), owned by another user or too old, or when the directory
// may not be used. What the bytes say is for the caller to check.
bool read_fresh_file(const std::string &dir, const std::string &path, const std::string &key, long window,
                     std::string &bytes);
// Writes bytes to path and stores the current time under key. A cache that
// cannot be written is no failure of the operation: false, nothing reported.
bool write_cache_file(const std::string &dir, const std::string &path, const std::string &key,
                      std::string_view bytes);

}  // namespace qs
