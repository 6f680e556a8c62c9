/* The C interface of the installed-product database library (orvex_tally).
 *
 * Texts are UTF-8. Every call returns TALLY_OK (0) on success and a non-zero TALLY_E_* code on failure.
 * Texts and lists handed out stay valid until the session that returned them is closed.
 * A session whose database is missing, locked or damaged is never opened: tallyOpenSession fails and
 * leaves the handle null, and every other call given a null handle fails. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TALLY_OK 0
#define TALLY_E_ARGUMENT 1  /* a null pointer, or a category or relation this library does not keep */
#define TALLY_E_DATABASE 2  /* the database is missing, locked or not a database */
#define TALLY_E_NOT_FOUND 3 /* no such payload, value or collection */
#define TALLY_E_SESSION 4   /* null or closed session handle */

/* The category of a payload's installer properties (INSTALLDIR, installLanguage, ProductCode, ...). */
#define TALLY_CATEGORY_PROPERTIES 5
/* The relation "collections that hold this payload". */
#define TALLY_RELATION_OWNING_COLLECTIONS 2

typedef struct TallySessionRec* TallyHandle;

/* What tallyGetPayload fills in; the caller passes it zero-filled. */
typedef struct TallyPayloadRecord {
    const char* payloadId;   /* the payload asked for */
    const char* productCode; /* its ProductCode property, or null */
    int32_t collectionCount; /* collections that hold it */
    const char* version;     /* the installed version */
    int32_t reserved;        /* zero */
} TallyPayloadRecord;

/* What tallyGetCollection fills in. */
typedef struct TallyCollectionRecord {
    int32_t recordSize;   /* sizeof(TallyCollectionRecord) */
    int32_t payloadCount; /* payloads in the collection */
    int32_t tsInstalled;  /* seconds since 1970 when the collection was installed */
    int32_t tsModified;   /* seconds since 1970 of its last change */
} TallyCollectionRecord;

/* Sessions. */
typedef int (*TallyOpenSessionFn)(TallyHandle* session);
typedef int (*TallySessionCommitFn)(TallyHandle session);
typedef int (*TallyCloseSessionFn)(TallyHandle session);

/* Queries. */
typedef int (*TallyGetPayloadDataFn)(TallyHandle session, const char* payloadId, int32_t category,
                                     const char* name, const char** value);
typedef int (*TallyGetPayloadFn)(TallyHandle session, const char* payloadId, TallyPayloadRecord* record);
/* *list receives a null-terminated array of collection ids. */
typedef int (*TallyGetPayloadCollectionsFn)(TallyHandle session, int32_t relation, const char* payloadId,
                                            const char* const** list);
typedef int (*TallyGetCollectionFn)(TallyHandle session, const char* collectionId,
                                    TallyCollectionRecord* record);

/* Registration (used by installers, the tally tool and tests). These create the database when it is
 * missing. A null or empty text leaves that field unset. */
typedef int (*TallyAddProductFn)(const char* payloadId, const char* installDir, const char* installLanguage,
                                 const char* productCode, const char* version, const char* collectionId,
                                 int64_t tsInstalled, int64_t tsModified);
typedef int (*TallySetValueFn)(const char* payloadId, const char* name, const char* value);
typedef int (*TallyRemoveProductFn)(const char* payloadId);

#ifndef TALLY_NO_PROTOTYPES
int tallyOpenSession(TallyHandle* session);
int tallySessionCommit(TallyHandle session);
int tallyCloseSession(TallyHandle session);
int tallyGetPayloadData(TallyHandle session, const char* payloadId, int32_t category, const char* name,
                        const char** value);
int tallyGetPayload(TallyHandle session, const char* payloadId, TallyPayloadRecord* record);
int tallyGetPayloadCollections(TallyHandle session, int32_t relation, const char* payloadId,
                               const char* const** list);
int tallyGetCollection(TallyHandle session, const char* collectionId, TallyCollectionRecord* record);
int tallyAddProduct(const char* payloadId, const char* installDir, const char* installLanguage,
                    const char* productCode, const char* version, const char* collectionId,
                    int64_t tsInstalled, int64_t tsModified);
int tallySetValue(const char* payloadId, const char* name, const char* value);
int tallyRemoveProduct(const char* payloadId);
#endif

#ifdef __cplusplus
}
#endif
