#pragma once

#include "core/math/Vector.h"
#include "script/nodes/OnlineService.h"

#include <string>
#include <string_view>
#include <vector>

namespace quarn {

struct OnlineRecord {
    std::string name; // the player's own record keeps its leading '#'
    Int3 position;
    int32_t value = 0;
};

// What list replies have told the client so far.
struct OnlineList {
    std::vector<OnlineRecord> records;
    int32_t ownIndex = -1;
    int32_t flags = 0;
    std::string ownName;
    std::string message;
};

// Reads a list reply into `list`, appending to its records. Lines end at LF or CR; a line
// "*text" is the message; a line "name;x;y;z;value" (more fields after value are ignored, the
// numbers read as atoi reads them) adds a record when the name is not empty, and a name
// "#own" also sets the flags to the value and the own name to "own". Other lines are skipped.
// The records end sorted by x, then y, ascending, then z, then value as unsigned, descending;
// the own index is the first record whose name starts with '#'.
void ParseRecordList(std::string_view reply, OnlineList& list);

// The client on HTTP GETs to a service whose base address ends with '/' (one is added when
// missing). The request paths, each parameter text with blanks turned into '_' and then
// percent-encoded, identity being "user=<user text>&v=<version text>":
//   SubmitFlag:   flag?key=<key>&<identity>&bit=<1 << bit>&set=<1 << bit>&n=<number>&text=<text>
//   SubmitRecord: record?name=<name>&<identity>&x=<x>&y=<y>&z=<z>&value=<value>
//   RequestList:  list?list=<text>&<identity>&serial=<volume serial, top bit clear>&n=<number>
// The server answers SubmitFlag and SubmitRecord with a text holding "SUCCESS" when it took
// the submission, and RequestList with a list reply (ParseRecordList). Only a whole reply with a
// 2xx status counts: a failed exchange (no connection, a refused certificate, another status, a
// body cut short) answers false as a pending one does, changes nothing and logs its reason.
// Without a base address nothing is sent and those three answer false at once.
class HttpOnlineService final : public OnlineService {
public:
    HttpOnlineService(std::string baseAddress, uint32_t volumeSerial);

    bool Open(const char* unusedA, const char* unusedB, const char* version) override;
    const char* SetUserName(const char* name, const char* unused) override;
    bool Close() override;
    bool QueryTrueA() override { return true; }
    int32_t QueryCode() override { return 13; }
    bool QueryTrueB() override { return true; }
    bool SubmitFlag(const char* unused, int32_t bit, int32_t number, const char* text) override;
    bool HasFlag(const char* unused, int32_t bit) override;
    int32_t GetFlags() override { return list_.flags; }
    bool RequestList(const char* text, int32_t number) override;
    bool SubmitRecord(const char* name, Int3 position, int32_t value) override;
    int32_t GetRecordCount() override { return static_cast<int32_t>(list_.records.size()); }
    Int3 GetRecordPosition(int32_t index) override;
    const char* GetRecordName(int32_t index) override;
    int32_t GetRecordValue(int32_t index) override;
    int32_t GetOwnRecordIndex() override { return list_.ownIndex; }
    const char* GetHostName() override { return host_.c_str(); }
    const char* GetMessage() override { return list_.message.c_str(); }
    int32_t GetState() override { return state_; }
    const char* GetOwnName() override { return list_.ownName.c_str(); }
    const char* GetExtraTextA() override { return extraTextA_.c_str(); }
    const char* GetExtraTextB() override { return extraTextB_.c_str(); }

private:
    // Polls the GET of `path` for `operation`: true with the reply once it has completed well.
    bool Exchange(const char* operation, std::string path, std::string& reply);
    std::string Identity() const;
    const OnlineRecord* RecordAt(int32_t index) const;

    std::string baseAddress_;
    std::string host_;
    uint32_t volumeSerial_;
    int32_t state_ = 0;
    std::string userText_;
    std::string versionText_;
    // Texts of the service this client is never given.
    std::string keyText_;
    std::string extraTextA_;
    std::string extraTextB_;
    OnlineList list_;
    bool failing_ = false; // a failure was logged; cleared by an exchange that succeeds
};

} // namespace quarn
