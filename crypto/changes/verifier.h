// Verification of the newest signature of a signed document: the steps that
// verify_internal runs on the open file, reachable one by one for testing.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <openssl/cms.h>

#include "core/base/handles.h"

namespace qs {

// The four /ByteRange numbers [0 a b c] of the newest signature: the one
// whose signed bytes end latest in the file. A /ByteRange that is not exactly
// four integers is refused rather than skipped, so that a damaged newest
// signature never falls back to an older one.
int find_newest_signature(std::FILE *file, long range[4]);

// Checks [0 a b c] against a file of size bytes: the first range starts at 0,
// "<" sits at a and ">" at b - 1, and [b, b + c) lies inside the file.
int check_signed_layout(std::FILE *file, long size, const long range[4]);

// The DER bytes spelt by the hex digits between a and b (the zero filler after
// the CMS object included).
int read_signature_bytes(std::FILE *file, long a, long b, std::vector<unsigned char> &der);

// Verifies the CMS object against the signed ranges of the file: a detached
// signature against the ranges themselves, an encapsulated one against its own
// content, which must be the SHA-1 digest of the ranges. The signer
// certificate is taken from the signature and not validated.
int verify_cms(CMS_ContentInfo *cms, std::FILE *file, long a, long b, long c);

// The signature whose /ByteRange is range, in file (size bytes): its layout
// checked, its contents decoded into cms and verified over its ranges (a
// document timestamp's token, or any contents that are a timestamp token,
// against the digest of the ranges). -1, reported, when any of it fails; cms
// holds the decoded object whenever there is one.
int verify_signature_at(std::FILE *file, long size, const long range[4], bool document_timestamp, CmsPtr &cms);

// The display name of the first signer of a verified CMS object; false when
// the object names no signer certificate.
bool signer_display_name(CMS_ContentInfo *cms, std::string &name);

// The judgement every signature of the open file gets (verified over its
// ranges, no update after it changing what it signed or what its
// certification allows); on success the message slot holds the display name
// of the newest signature's signer.
int verify_signed_file(std::FILE *file);

}  // namespace qs
