// SPDX-License-Identifier: MIT
/* Symbol visibility for libowclient. The library is built with hidden visibility;
 * only what carries OWCLIENT_API is exported. */
#ifndef OWCLIENT_EXPORT_H
#define OWCLIENT_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define OWCLIENT_API __attribute__((visibility("default")))
#else
#define OWCLIENT_API
#endif

#endif /* OWCLIENT_EXPORT_H */
