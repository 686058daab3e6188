/* The component's exports: a small C interface in place of an in-process server's four entry
 * points. A host loads libtallyvet_component.so at run time, looks a class up by its
 * programmatic name, creates an instance, calls its one method RUN and releases it; it may ask
 * whether the library can be unloaded.
 *
 * Classes: "Tallyvet.NewCheckReceipt" (the receipt cost check screen) and "Tallyvet.NewCheckBook"
 * (the reconciliation launcher). Their class identifiers below are fixed for good.
 *
 * Both sides must be built by the same compiler and standard library: RUN takes the host's
 * connection as a pointer to a std::shared_ptr<tallyvet::db::Connection>.
 *
 * Threads: every call on the thread that runs (or will run) the Qt user interface.
 */
#ifndef TALLYVET_COMPONENT_COMPONENT_H_
#define TALLYVET_COMPONENT_COMPONENT_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TALLYVET_COMPONENT_LIBRARY "libtallyvet_component.so"
#define TALLYVET_COMPONENT_ABI 1
/* The report viewer the launcher starts, in the component library's own folder. */
#define TALLYVET_VIEWER_PROGRAM "tallyvet-notepad"

#define TALLYVET_CLSID_NEW_CHECK_RECEIPT "{6D3F1A52-9C4E-4B71-A0D8-2E5B7C91F304}"
#define TALLYVET_CLSID_NEW_CHECK_BOOK "{B8E27C04-3F59-4D16-9E2A-71C4D05A8B63}"

typedef struct TallyvetObject TallyvetObject;

typedef struct TallyvetObjectVtbl {
  /* RUN(Base, strUser): stores the connection (`base` points at a
   * std::shared_ptr<tallyvet::db::Connection>, which is copied) and the user in the component's
   * host context, shows the class's screen modally and returns when it has closed. Creates the
   * QApplication when the process has none.
   * Returns 0 when the screen was shown and closed; otherwise nonzero, with the reason written
   * (UTF-8, truncated, NUL-terminated) into `error` when `errorSize` > 0: no connection, no way
   * to show windows, or a failure while the screen loaded. Never throws. */
  int (*Run)(TallyvetObject* self, void* base, const char* strUser, char* error, size_t errorSize);
  /* Destroys the instance. */
  void (*Release)(TallyvetObject* self);
} TallyvetObjectVtbl;

struct TallyvetObject {
  const TallyvetObjectVtbl* vtbl;
};

typedef struct TallyvetClassInfo {
  const char* progId;  /* "Tallyvet.NewCheckReceipt" */
  const char* classId; /* the fixed identifier above */
  /* A new instance (release it with vtbl->Release), or NULL when memory ran out. */
  TallyvetObject* (*CreateInstance)(void);
} TallyvetClassInfo;

/* The class published under `progId`, or NULL (also for NULL). The result lives as long as the
 * library stays loaded. */
const TallyvetClassInfo* TallyvetGetClassObject(const char* progId);
/* The index-th class (0 and 1), or NULL past the last. */
const TallyvetClassInfo* TallyvetClassAt(int index);
/* 1 when no instance is alive and no RUN is under way, else 0. */
int TallyvetCanUnloadNow(void);
/* TALLYVET_COMPONENT_ABI of the library, for a host to check before it calls anything else. */
int TallyvetAbiVersion(void);

typedef const TallyvetClassInfo* (*TallyvetGetClassObjectFn)(const char*);
typedef const TallyvetClassInfo* (*TallyvetClassAtFn)(int);
typedef int (*TallyvetCanUnloadNowFn)(void);
typedef int (*TallyvetAbiVersionFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* TALLYVET_COMPONENT_COMPONENT_H_ */
