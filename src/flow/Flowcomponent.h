#pragma once
// Base of the diagram's elements: a named component with an owning diagram.
// The owner keeps a register of its components so that a name can be checked
// for uniqueness among all of them, nodes, links and unions alike.
#include <string>

namespace tolm {

class TTolmFlow;

class TFlowComponent {
public:
    // Registers with owner (which may be null: an element of no diagram).
    explicit TFlowComponent(TTolmFlow* owner);
    virtual ~TFlowComponent();
    TFlowComponent(const TFlowComponent&) = delete;
    TFlowComponent& operator=(const TFlowComponent&) = delete;

    const std::string& Name() const { return name_; }
    // The name must be an identifier (a letter or "_", then letters, digits or
    // "_") and no other component of the owner may have it (exact comparison);
    // otherwise EComponentError is raised and the old name stays.
    void SetName(const std::string& name);

    TTolmFlow* Owner() const { return owner_; }

private:
    friend class TTolmFlow;  // detaches its components when it is destroyed
    TTolmFlow* owner_;
    std::string name_;
};

// True for a letter or "_" followed by letters, digits or "_" (ASCII).
bool IsValidIdent(const std::string& text);

}  // namespace tolm
