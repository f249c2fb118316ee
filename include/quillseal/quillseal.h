#ifndef QUILLSEAL_H
#define QUILLSEAL_H

/* The whole public interface of libquillseal. Buffers the library hands out are
 * allocated with malloc and released by the receiver with free. */
#include <quillseal/export.h>
#include <quillseal/config.h>
#include <quillseal/core.h>
#include <quillseal/pdf.h>
#include <quillseal/crypto.h>
#include <quillseal/appearance.h>

#endif
