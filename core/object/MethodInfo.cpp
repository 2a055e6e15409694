#include "core/object/MethodInfo.h"

#include "core/debug/Validity.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/io/BufferFile.h"
#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/string/Text.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace quarn {
namespace {

// Name and signature together hold at most this many characters.
constexpr size_t MaxDeclarationLength = 255;

std::vector<std::unique_ptr<MethodInfo>>& FunctionList() {
    static std::vector<std::unique_ptr<MethodInfo>> functions;
    return functions;
}

// "(type, type):type"; no result part for void.
std::string SignatureText(const int32_t* arguments, int argumentCount, bool hasResult,
                          int32_t result) {
    std::string text = "(";
    for (int i = 0; i < argumentCount; ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += GetTypeName(arguments[i]);
    }
    text += ")";
    if (hasResult) {
        text += ":";
        text += GetTypeName(result);
    }
    return text;
}

const char* OwnerName(const ClassInfo* owner) {
    return owner ? owner->GetName() : "(function)";
}

} // namespace

MethodInfo::MethodInfo(const char* name, const char* signature) {
    // The name is kept as given: it is never read as a format or split as a token, so any
    // text (a '%' included) survives. The signature takes what is left of the capacity.
    name_ = name ? name : "";
    if (name_.size() > MaxDeclarationLength) {
        name_.resize(MaxDeclarationLength);
    }
    std::string text = signature ? signature : "";
    text.resize(std::min(text.size(), MaxDeclarationLength - name_.size()));

    TextFile file(text.c_str());
    Tokenizer tokenizer;
    int32_t kind = tokenizer.Next(file);
    if (kind == '(') {
        kind = tokenizer.Next(file);
        bool reported = false;
        while (kind != ')' && kind != TokenEnd) {
            if (argumentCount_ < MaxArguments) {
                AddArgument(GetTypeByName(tokenizer.GetText().c_str()));
            } else if (!reported) {
                reported = ValidityReport("Method %s: more than %d arguments in \"%s\"; the rest "
                                          "are ignored",
                                          name_.c_str(), MaxArguments, text.c_str());
            }
            kind = tokenizer.Next(file);
            if (kind == ',') {
                kind = tokenizer.Next(file);
            }
        }
        kind = tokenizer.Next(file);
    }
    if (kind == ':') {
        do {
            tokenizer.Next(file);
            int32_t type = GetTypeByName(tokenizer.GetText().c_str());
            returnType_ = type;
            ++returnCount_;
            returnWords_ += GetTypeWordCount(type);
            kind = tokenizer.Next(file);
        } while (kind == ',');
    }
}

MethodInfo::MethodInfo(ClassInfo* owner, MethodBinding binding)
    : owner_(owner), thunk_(binding.thunk), signalThunk_(binding.signalThunk) {}

void MethodInfo::AddArgument(int32_t type) {
    if (argumentCount_ >= MaxArguments) {
        ValidityReport("Method %s.%s: more than %d arguments; the rest are ignored",
                       OwnerName(owner_), name_.c_str(), MaxArguments);
        return;
    }
    argumentTypes_[argumentCount_++] = type;
    argumentWords_ += GetTypeWordCount(type);
    textArgument_ = textArgument_ || type == TypeString;
}

void MethodInfo::SetReturnType(int32_t type) {
    returnType_ = type;
    returnWords_ = GetTypeWordCount(type);
    returnCount_ = returnWords_ != 0 ? 1 : 0;
}

int32_t MethodInfo::GetArgumentType(int index) const {
    return index >= 0 && index < argumentCount_ ? argumentTypes_[index] : TypeVoid;
}

std::string MethodInfo::GetSignatureText() const {
    return SignatureText(argumentTypes_, argumentCount_, returnCount_ > 0, returnType_);
}

bool MethodInfo::Bind(const MethodBinding& binding) {
    thunk_ = nullptr;
    signalThunk_ = binding.signalThunk;
    if (signalThunk_) {
        return true;
    }
    if (!binding.thunk) {
        return false;
    }
    if (binding.typed) {
        // A signature with several results fits no C++ function.
        bool fits = returnCount_ <= 1 && binding.argumentCount == argumentCount_ &&
                    TypeFits(returnCount_ == 0 ? TypeVoid : returnType_, binding.returnType);
        for (int i = 0; fits && i < argumentCount_; ++i) {
            fits = TypeFits(argumentTypes_[i], binding.argumentTypes[i]);
        }
        if (!fits) {
            std::string bound = SignatureText(binding.argumentTypes, binding.argumentCount,
                                              binding.returnType != TypeVoid, binding.returnType);
            ValidityReport("Method %s.%s: the bound function %s does not fit the signature %s; "
                           "the method is left unbound",
                           OwnerName(owner_), name_.c_str(), bound.c_str(),
                           GetSignatureText().c_str());
            return false;
        }
    }
    thunk_ = binding.thunk;
    return true;
}

void MethodInfo::SetOwner(ClassInfo* owner) {
    owner_ = owner;
    ++detail::methodTableGeneration;
}

void MethodInfo::CallUnbound(Entity* object, uint32_t* block) const {
    if (!block) {
        // A caller without a block still gets the method run, on zero words.
        uint32_t scratch[MaxValueWords + MaxArguments * MaxValueWords] = {};
        Call(object, scratch);
    } else if (!ScriptMayCall(object)) {
        std::fill_n(block, returnWords_, 0u);
    } else if (thunk_) {
        thunk_(object, block);
    } else if (object) {
        object->CallMethod(*this, block);
    }
}

void MethodInfo::CallSignal(Entity* object, void* argument) const {
    if (!signalThunk_) {
        Call(object, nullptr);
    } else if (ScriptMayCall(object)) {
        signalThunk_(object, argument);
    }
}

void MethodInfo::CallWithRecord(Entity* object, std::span<uint32_t> record) const {
    if (signalThunk_) {
        CallSignal(object, record.data());
        return;
    }
    uint32_t block[MaxValueWords + MaxArguments * MaxValueWords] = {};
    std::copy_n(record.begin(), std::min(record.size(), std::size(block)), block);
    Call(object, block);
}

void MethodInfo::SetWrittenFiles(const char* label, WrittenFilesFunction files) {
    writtenLabel_ = label ? label : "";
    writtenFiles_ = files;
}

bool MethodInfo::ScriptMayCall(const Entity* object) const {
    if (!writtenFiles_ || !object || !IsScriptRunning()) {
        return true;
    }
    const std::string function = std::string(object->GetClass()->GetName()) + "." + writtenLabel_;
    for (const std::string& path : writtenFiles_(*object)) {
        if (!ScriptMayReach(function.c_str(), path.c_str())) {
            return false;
        }
    }
    return true;
}

// The global function list --------------------------------------------------------------------

MethodInfo* RegisterFunction(std::unique_ptr<MethodInfo> function) {
    if (!function) {
        return nullptr;
    }
    FunctionList().push_back(std::move(function));
    return FunctionList().back().get();
}

int GetRegisteredFunctionCount() {
    return static_cast<int>(FunctionList().size());
}

MethodInfo* GetRegisteredFunction(int index) {
    if (index < 0 || index >= GetRegisteredFunctionCount()) {
        return nullptr;
    }
    return FunctionList()[static_cast<size_t>(index)].get();
}

const char* NextShortName() {
    static char counter[4] = {'a', 'a', 'a', '\0'};
    int position = 2;
    for (; position >= 0; --position) {
        if (counter[position] < 'z') {
            ++counter[position];
            break;
        }
        counter[position] = 'a';
    }
    // All three letters carried over: "zzz" becomes "aaa", which the loop has already written.
    return counter;
}

} // namespace quarn
