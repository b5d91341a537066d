#include "flow/Flowcomponent.h"

#include "flow/Tolmflow.h"
#include "toolkit/Exception.h"

namespace tolm {

TFlowComponent::TFlowComponent(TTolmFlow* owner) : owner_(owner) {
    if (owner_) owner_->InsertComponent(this);
}

TFlowComponent::~TFlowComponent() {
    if (owner_) owner_->RemoveComponent(this);
}

void TFlowComponent::SetName(const std::string& name) {
    if (name == name_) return;
    if (!IsValidIdent(name))
        throw EComponentError("Component name \"" + name + "\" is not a valid identifier");
    if (owner_ && owner_->FindComponent(name))
        throw EComponentError("A component named " + name + " already exists");
    name_ = name;
}

bool IsValidIdent(const std::string& text) {
    if (text.empty()) return false;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!letter(text[0])) return false;
    for (char c : text)
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

}  // namespace tolm
