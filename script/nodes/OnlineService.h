#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

// The client of the game's online service: score and record lists and per-player flags. The
// platform makes the one instance on first request and keeps it for the run; the Network node
// reaches it through CurrentOnlineService. Operations that talk to the server never block: the
// first call starts the exchange and answers false, and the caller asks again each frame with
// the same arguments until the answer comes. Texts handed out belong to the client and stay
// valid until the operation that changes them runs again.
class OnlineService {
public:
    // The new client becomes the current one.
    OnlineService();
    virtual ~OnlineService();
    OnlineService(const OnlineService&) = delete;
    OnlineService& operator=(const OnlineService&) = delete;

    // Keeps the version text and opens the client; the first two texts are not used.
    virtual bool Open(const char* unusedA, const char* unusedB, const char* version) = 0;
    // "SUCCESS" once the name is kept, "" when the client is not open.
    virtual const char* SetUserName(const char* name, const char* unused) = 0;
    virtual bool Close() = 0;
    virtual bool QueryTrueA() = 0;
    virtual int32_t QueryCode() = 0;
    virtual bool QueryTrueB() = 0;
    // Sets bit `bit` (taken AND 31) once the server answered, whatever its answer said; true
    // when it accepted the submission. A failed exchange is no answer: it sets nothing.
    virtual bool SubmitFlag(const char* unused, int32_t bit, int32_t number, const char* text) = 0;
    virtual bool HasFlag(const char* unused, int32_t bit) = 0;
    virtual int32_t GetFlags() = 0;
    // Empties the record list at every call; true once the server's whole list has been read
    // in, never for a failed exchange.
    virtual bool RequestList(const char* text, int32_t number) = 0;
    virtual bool SubmitRecord(const char* name, Int3 position, int32_t value) = 0;
    virtual int32_t GetRecordCount() = 0;
    // Outside the list: (0, 0, 0), "" and 0.
    virtual Int3 GetRecordPosition(int32_t index) = 0;
    virtual const char* GetRecordName(int32_t index) = 0;
    virtual int32_t GetRecordValue(int32_t index) = 0;
    // The player's own record in the list, -1 when it holds none.
    virtual int32_t GetOwnRecordIndex() = 0;
    virtual const char* GetHostName() = 0;
    virtual const char* GetMessage() = 0;
    // 0 closed, 2 open.
    virtual int32_t GetState() = 0;
    virtual const char* GetOwnName() = 0;
    // Two texts of the service that this client never receives: always "".
    virtual const char* GetExtraTextA() = 0;
    virtual const char* GetExtraTextB() = 0;
};

// The client of the run, or null before the platform made one.
OnlineService* CurrentOnlineService();

} // namespace quarn
