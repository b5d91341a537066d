#include "flow/Tolmflow_union.h"

#include <algorithm>

#include "base/Strfunc.h"
#include "flow/Tolmflow_link.h"
#include "flow/Tolmflow_node.h"
#include "toolkit/Exception.h"

namespace tolm {

TTolmFlow_Union::TTolmFlow_Union(TTolmFlow* owner) : TFlowComponent(owner) {}

int TTolmFlow_Union::Width() const { return static_cast<int>(static_cast<int64_t>(right_) - left_); }
void TTolmFlow_Union::SetWidth(int v) { right_ = static_cast<int>(static_cast<int64_t>(left_) + v); }
int TTolmFlow_Union::Height() const { return static_cast<int>(static_cast<int64_t>(bottom_) - top_); }
void TTolmFlow_Union::SetHeight(int v) { bottom_ = static_cast<int>(static_cast<int64_t>(top_) + v); }

// ---------------------------------------------------------------- membership

void TTolmFlow_Union::Add_AtNodeObjects(TTolmFlow_Node* node) {
    if (!node) return;
    for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it)
        if ((*it)->Name() == node->Name()) return;
    nodes_.push_back(node);
    rectOutOfDate_ = true;
    node->inUnion_ = true;
}

void TTolmFlow_Union::Add_AtLinkObjects(TTolmFlow_Link* link) {
    if (!link) return;
    for (auto it = links_.rbegin(); it != links_.rend(); ++it)
        if ((*it)->Name() == link->Name()) return;
    links_.push_back(link);
    rectOutOfDate_ = true;
    link->inUnion_ = true;
}

void TTolmFlow_Union::Delete_AtNodeObjects(TTolmFlow_Node* node) {
    if (!node) return;
    auto it = std::find_if(nodes_.begin(), nodes_.end(),
                           [node](const TTolmFlow_Node* n) { return n->Name() == node->Name(); });
    if (it == nodes_.end()) return;
    (*it)->inUnion_ = false;
    nodes_.erase(it);
    rectOutOfDate_ = true;
}

void TTolmFlow_Union::Delete_AtLinkObjects(TTolmFlow_Link* link) {
    if (!link) return;
    auto it = std::find_if(links_.rbegin(), links_.rend(),
                           [link](const TTolmFlow_Link* l) { return l->Name() == link->Name(); });
    if (it == links_.rend()) return;
    (*it)->inUnion_ = false;
    links_.erase(std::next(it).base());
    rectOutOfDate_ = true;
}

void TTolmFlow_Union::DropNode(const TTolmFlow_Node* node) {
    auto end = std::remove(nodes_.begin(), nodes_.end(), node);
    if (end == nodes_.end()) return;
    nodes_.erase(end, nodes_.end());
    rectOutOfDate_ = true;
}

void TTolmFlow_Union::DropLink(const TTolmFlow_Link* link) {
    auto end = std::remove(links_.begin(), links_.end(), link);
    if (end == links_.end()) return;
    links_.erase(end, links_.end());
    rectOutOfDate_ = true;
}

TTolmFlow_Node* TTolmFlow_Union::GetNodeAtIndex(int index) const {
    if (index < 0 || index >= AtNodeObjects_Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return nodes_[static_cast<size_t>(index)];
}

TTolmFlow_Link* TTolmFlow_Union::GetLinkAtIndex(int index) const {
    if (index < 0 || index >= AtLinkObjects_Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return links_[static_cast<size_t>(index)];
}

bool TTolmFlow_Union::HasNode(const TTolmFlow_Node* node) const {
    return std::find(nodes_.begin(), nodes_.end(), node) != nodes_.end();
}

bool TTolmFlow_Union::HasLink(const TTolmFlow_Link* link) const {
    return std::find(links_.begin(), links_.end(), link) != links_.end();
}

// ---------------------------------------------------------------- rectangle

std::optional<TFlowRect> TTolmFlow_Union::MemberBounds() const {
    std::optional<TFlowRect> r;
    auto widen = [&r](int left, int top, int right, int bottom) {
        if (!r) {
            r = TFlowRect{left, top, right, bottom};
            return;
        }
        r->Left = std::min(r->Left, left);
        r->Top = std::min(r->Top, top);
        r->Right = std::max(r->Right, right);
        r->Bottom = std::max(r->Bottom, bottom);
    };
    if (!nodes_.empty()) {
        // Links do not widen the rectangle of a union with nodes.
        for (const TTolmFlow_Node* n : nodes_) {
            TFlowRect nr = n->DisplayRect();
            widen(nr.Left, nr.Top, nr.Right, nr.Bottom);
        }
        return r;
    }
    for (const TTolmFlow_Link* l : links_)
        for (const TFlowPoint& p : l->Points()) widen(p.X, p.Y, p.X, p.Y);
    return r;
}

bool TTolmFlow_Union::ReSetPosition() {
    std::optional<TFlowRect> r = MemberBounds();
    if (!r) return false;
    left_ = r->Left;
    top_ = r->Top;
    right_ = r->Right;
    bottom_ = r->Bottom;
    rectOutOfDate_ = false;
    return true;
}

TFlowPoint TTolmFlow_Union::P_Left_hand() {
    if (rectOutOfDate_) ReSetPosition();
    return {left_, top_};
}

TFlowPoint TTolmFlow_Union::P_Right_tail() {
    if (rectOutOfDate_) ReSetPosition();
    return {right_, bottom_};
}

TFlowRect TTolmFlow_Union::DisplayRect() {
    if (rectOutOfDate_) ReSetPosition();
    return {left_, top_, right_, bottom_};
}

// ---------------------------------------------------------------- union line

std::string TTolmFlow_Union::GetUnionStructure() const {
    auto joinNames = [](const auto& elements) {
        std::string names;
        for (size_t i = 0; i < elements.size(); ++i) {
            if (i > 0) names += ", ";
            names += elements[i]->Name();
        }
        return names;
    };
    return "Union Name=" + EscapeText(Name()) + ", Node=" + EscapeText(joinNames(nodes_)) +
           ", Link=" + EscapeText(joinNames(links_)) + ", Tag=" + std::to_string(tag_);
}

}  // namespace tolm
