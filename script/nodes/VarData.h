#pragma once

#include "core/filesystem/SettingsFile.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <memory>

namespace quarn {

class RawData;

// A key-value text file ("vardata:data", the settings-file format) offered to scripts. The
// store is built from the raw data resource's bytes and rebuilt whenever the resource changes;
// with "obfuscate" the file is read and saved through the scrambling pass. Without a store
// every answer is 0, "" or false.
class VarData : public Node {
public:
    VarData();
    ~VarData() override;

    bool GetObfuscate() const { return obfuscate_; }
    void SetObfuscate(bool obfuscate) { obfuscate_ = obfuscate; }
    const char* GetDataPath() const;
    void SetDataPath(const char* path);
    SettingsFile* GetStore() const { return store_.get(); }

    // The resource, given a free id first when it has none, so scripts can hold it.
    Entity* GetData();
    int32_t GetKeyCount() const;
    const char* GetKeyAt(int32_t index) const;
    bool HasKey(const char* key) const;
    void RemoveKey(const char* key);
    void SetValue(const char* key, const char* value);
    const char* GetValue(const char* key) const;
    bool Save();
    // Reads the file again and rebuilds the store.
    void Reload();

    void OnResourceChanged(Resource* resource, const char* argument) override;
    PathString GetDescription() const override;
    Entity* GetResource() const override;
    ClassInfo* GetClass() const override { return classInfo; }
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void BuildStore();

    bool obfuscate_ = false;
    RawData* data_ = nullptr; // one counted reference
    std::unique_ptr<SettingsFile> store_;
};

} // namespace quarn
