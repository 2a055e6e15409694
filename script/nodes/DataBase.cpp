#include "script/nodes/DataBase.h"

#include "core/debug/Log.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/os/EngineWork.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "resources/DataBaseResource.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace quarn {

ClassInfo* DataBase::classInfo = nullptr;

namespace {

bool EqualsNoCase(std::string_view a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) {
            return false;
        }
    }
    return i == a.size() && !b[i];
}

} // namespace

DataBase::DataBase() = default;

DataBase::~DataBase() {
    if (table_) {
        table_->Release();
    }
}

const char* DataBase::GetDataPath() const {
    return RelativePathOf(table_);
}

void DataBase::SetDataPath(const char* path) {
    DataBaseResource* acquired = path && *path ? GetDataBase(path, "") : nullptr;
    if (ReplaceHeldResource(table_, acquired)) {
        toldCells_.clear();
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

int32_t DataBase::GetRecordCount() const {
    return table_ ? int32_t(table_->GetRecordCount()) : 0;
}

int32_t DataBase::GetFieldCount() const {
    return table_ ? int32_t(table_->GetFieldCount()) : 0;
}

int32_t DataBase::FindRecord(int32_t field, const char* text) const {
    const int32_t records = GetRecordCount();
    for (int32_t record = 0; record < records; ++record) {
        if (EqualsNoCase(table_->GetStringValue(record, field), text ? text : "")) {
            ChargeElementsPassed(uint64_t(record) + 1);
            return record;
        }
    }
    ChargeElementsPassed(uint64_t(std::max(records, 0)));
    return -1;
}

int32_t DataBase::CombineKeys(int32_t key1, int32_t key2) const {
    return table_ ? table_->CombineKeys(key1, key2) : 0;
}

bool DataBase::FindValueWord(const uint32_t* block, const uint32_t*& word) const {
    const auto record = int32_t(block[1]);
    const auto field = int32_t(block[2]);
    word = table_ && record >= 0 ? table_->GetValuePointer(record, field) : nullptr;
    return record >= 0;
}

bool DataBase::IsTextCell(const uint32_t* block) const {
    const auto record = int32_t(block[1]);
    const auto field = int32_t(block[2]);
    if (!table_ || record < 0 || record >= GetRecordCount() || field < 0 ||
        table_->GetFieldType(uint32_t(field)) != TypeString) {
        return false;
    }
    return table_->IsTextMode() ? uint32_t(field) < table_->GetRecordFieldCount(record)
                                : table_->GetValuePointer(record, field) != nullptr;
}

uint32_t DataBase::ReadTextNumber(const uint32_t* block, bool whole) {
    const auto record = int32_t(block[1]);
    const auto field = int32_t(block[2]);
    const std::string text(table_->GetStringValue(record, field));
    float value = 0.0f;
    const char* mistake =
        whole ? FindInt32Mistake(text.c_str()) : FindFloatMistake(text.c_str(), value);
    if (!mistake) {
        return whole ? uint32_t(ParseInt32(text.c_str())) : FloatToWord(value);
    }
    if (toldCells_.insert(uint64_t(uint32_t(record)) << 32 | uint32_t(field)).second) {
        LogMessage("DataBase \"%s\": record %d, field %d: \"%s\" %s; read as 0", GetDataPath(),
                   record, field, text.c_str(), mistake);
    }
    return 0;
}

void DataBase::GetIntValue(uint32_t* block) {
    const uint32_t* word;
    if (FindValueWord(block, word)) {
        block[0] = IsTextCell(block) ? ReadTextNumber(block, true) : word ? *word : 0;
    }
}

void DataBase::GetBoolValue(uint32_t* block) {
    // The low byte of the int the cell holds.
    GetIntValue(block);
    if (int32_t(block[1]) >= 0) {
        block[0] &= 0xFF;
    }
}

void DataBase::GetFloatValue(uint32_t* block) {
    const uint32_t* word;
    if (FindValueWord(block, word)) {
        // A typed field's own bits: a float field's value.
        block[0] = IsTextCell(block) ? ReadTextNumber(block, false) : word ? *word : 0;
    }
}

void DataBase::GetStringValue(uint32_t* block) {
    const auto record = int32_t(block[1]);
    if (record < 0) {
        return;
    }
    const std::string text(table_ ? table_->GetStringValue(record, int32_t(block[2])) : "");
    ValueTraits<const char*>::Write(text.c_str(), block);
}

int32_t DataBase::AddRecord() {
    return table_ ? table_->AddRecord() : -1;
}

int32_t DataBase::AppendString(const char* text) {
    return table_ ? table_->AppendString(text ? text : "") : 0;
}

void DataBase::SetValueText(int32_t record, int32_t field, const char* text) {
    if (table_ && record >= 0) {
        table_->SetValueText(record, field, text ? text : "");
    }
}

// The file may be any the node was pointed at; only one inside the game is written.
void DataBase::Save() {
    if (table_ && ScriptMayReach("DataBase.Save", table_->GetFullPath())) {
        table_->SaveToFile(table_->GetFullPath());
    }
}

PathString DataBase::GetDescription() const {
    return PathString(GetDataPath());
}

Entity* DataBase::GetResource() const {
    return table_;
}

ClassInfo* DataBase::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "DataBase", []() -> Entity* { return new DataBase(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Data");

    using D = DataBase;
    classInfo->AddResourceProperty<&D::GetDataPath, &D::SetDataPath>(
        "database:data", &DataBaseResource::GetLoadableExtensions);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&D::GetRecordCount>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&D::GetFieldCount>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,string):int", BindMethod<&D::FindRecord>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):int", BindMethod<&D::CombineKeys>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):int", BindBlockMethod<&D::GetIntValue>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):bool", BindBlockMethod<&D::GetBoolValue>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):float", BindBlockMethod<&D::GetFloatValue>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int):string", BindBlockMethod<&D::GetStringValue>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&D::AddRecord>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):int", BindMethod<&D::AppendString>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int,string)", BindMethod<&D::SetValueText>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&D::Save>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):int", BindMethod<&D::CheckRecord>(), MethodScript);
    return classInfo;
}

} // namespace quarn
