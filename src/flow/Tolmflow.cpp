#include "flow/Tolmflow.h"

#include <algorithm>
#include <unordered_set>

#include "toolkit/Exception.h"

namespace tolm {

namespace {

template <class T>
T* AtIndex(const std::vector<std::unique_ptr<T>>& list, int index) {
    if (index < 0 || static_cast<size_t>(index) >= list.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return list[static_cast<size_t>(index)].get();
}

template <class T>
T* AtIndex(const std::vector<T*>& list, int index) {
    if (index < 0 || static_cast<size_t>(index) >= list.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return list[static_cast<size_t>(index)];
}

template <class T>
T* FirstNamed(const std::vector<std::unique_ptr<T>>& list, const std::string& name) {
    for (const auto& e : list)
        if (e->Name() == name) return e.get();
    return nullptr;
}

template <class T>
T* LastNamed(const std::vector<std::unique_ptr<T>>& list, const std::string& name) {
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->Name() == name) return it->get();
    return nullptr;
}

template <class T>
size_t IndexOf(const std::vector<std::unique_ptr<T>>& list, const T* e) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == e) return i;
    return list.size();
}

template <class T>
void Erase(std::vector<T*>& list, const T* e) {
    list.erase(std::remove(list.begin(), list.end(), e), list.end());
}

}  // namespace

TTolmFlow::TTolmFlow() = default;

TTolmFlow::~TTolmFlow() {
    selectNodes_.clear();
    selectLinks_.clear();
    selectUnions_.clear();
    selectPoints_.clear();
    unions_.clear();
    links_.clear();
    nodes_.clear();
    // Elements made with this owner but never handed to a list outlive it.
    for (TFlowComponent* c : components_) c->owner_ = nullptr;
}

// ---------------------------------------------------------------- properties

void TTolmFlow::SetShowGrid(bool v) {
    showGrid_ = v;
    Repaint();
}
void TTolmFlow::SetGridStyle(TGridStyle v) {
    gridStyle_ = v;
    Repaint();
}
void TTolmFlow::SetGridColor(TColor v) {
    gridColor_ = v;
    Repaint();
}
void TTolmFlow::SetxGrid(int v) {
    xGrid_ = v;
    Repaint();
}
void TTolmFlow::SetyGrid(int v) {
    yGrid_ = v;
    Repaint();
}
void TTolmFlow::SetColor(TColor v) {
    color_ = v;
    Repaint();
}

void TTolmFlow::SetCodePage(int v) {
    codePage_ = v;
    Repaint();
}

// ---------------------------------------------------------------- adding

template <class T>
std::string TTolmFlow::FreeName(const std::vector<std::unique_ptr<T>>& list, const std::string& name,
                                const std::string& defaultBase) const {
    const std::string base = name.empty() ? defaultBase : name;
    std::unordered_set<std::string> taken;
    for (const auto& e : list) taken.insert(e->Name());
    // A number is also passed over when another kind of element holds the
    // name (a node named Union_Object0): taking it would fail, and a saved
    // diagram holding such a node and a union could not be read back.
    for (size_t i = 0;; ++i) {
        std::string candidate = base + std::to_string(i);
        if (!taken.count(candidate) && !FindComponent(candidate)) return candidate;
    }
}

TTolmFlow_Node* TTolmFlow::AddNode(const std::string& name, int left, int top, int width, int height) {
    auto node = std::make_unique<TTolmFlow_Node>(this);
    node->SetName(FreeName(nodes_, name, "Node_Object"));
    node->SetLeft(left);
    node->SetTop(top);
    node->SetWidth(width);
    node->SetHeight(height);
    node->SetVisible(true);
    node->SetShape(shape_ == 0 ? 1 : shape_);
    nodes_.push_back(std::move(node));
    Repaint();
    return nodes_.back().get();
}

TTolmFlow_Union* TTolmFlow::AddUnion(const std::string& name) {
    auto u = std::make_unique<TTolmFlow_Union>(this);
    u->SetName(FreeName(unions_, name, "Union_Object"));
    unions_.push_back(std::move(u));
    return unions_.back().get();
}

bool TTolmFlow::ObjectAddNode(std::unique_ptr<TTolmFlow_Node> node) {
    if (!node) return false;
    nodes_.push_back(std::move(node));
    return true;
}

bool TTolmFlow::ObjectAddLink(std::unique_ptr<TTolmFlow_Link> link) {
    if (!link) return false;
    links_.push_back(std::move(link));
    return true;
}

bool TTolmFlow::ObjectAddUnion(std::unique_ptr<TTolmFlow_Union> u) {
    if (!u) return false;
    unions_.push_back(std::move(u));
    return true;
}

// ---------------------------------------------------------------- finding

TTolmFlow_Node* TTolmFlow::GetNodeAtIndex(int index) const { return AtIndex(nodes_, index); }
TTolmFlow_Link* TTolmFlow::GetLinkAtIndex(int index) const { return AtIndex(links_, index); }
TTolmFlow_Union* TTolmFlow::GetUnionAtIndex(int index) const { return AtIndex(unions_, index); }
TTolmFlow_Node* TTolmFlow::GetSelectNodeAtIndex(int index) const { return AtIndex(selectNodes_, index); }
TTolmFlow_Link* TTolmFlow::GetSelectLinkAtIndex(int index) const { return AtIndex(selectLinks_, index); }
TTolmFlow_Union* TTolmFlow::GetSelectUnionAtIndex(int index) const { return AtIndex(selectUnions_, index); }

const TPointSelect& TTolmFlow::GetSelectPointAtIndex(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= selectPoints_.size())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return selectPoints_[static_cast<size_t>(index)];
}

TTolmFlow_Node* TTolmFlow::GetNodeAtName(const std::string& name) const { return FirstNamed(nodes_, name); }
TTolmFlow_Link* TTolmFlow::GetLinkAtName(const std::string& name) const { return FirstNamed(links_, name); }
TTolmFlow_Union* TTolmFlow::GetUnionAtName(const std::string& name) const { return FirstNamed(unions_, name); }

// ---------------------------------------------------------------- deleting

void TTolmFlow::ForgetNode(TTolmFlow_Node* node) {
    node->select_ = false;
    Erase(selectNodes_, node);
    for (auto& u : unions_) u->DropNode(node);
}

void TTolmFlow::ForgetLink(TTolmFlow_Link* link) {
    link->select_ = false;
    Erase(selectLinks_, link);
    selectPoints_.erase(std::remove_if(selectPoints_.begin(), selectPoints_.end(),
                                       [link](const TPointSelect& p) { return p.Link == link; }),
                        selectPoints_.end());
    for (auto& u : unions_) u->DropLink(link);
}

void TTolmFlow::FreeNodeAt(size_t index) {
    ForgetNode(nodes_[index].get());
    nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(index));  // the node leaves its links' ends
    Repaint();
}

void TTolmFlow::FreeLinkAt(size_t index) {
    ForgetLink(links_[index].get());
    links_.erase(links_.begin() + static_cast<std::ptrdiff_t>(index));  // the link leaves its nodes' lists
    Repaint();
}

void TTolmFlow::FreeUnionAt(size_t index) {
    Erase(selectUnions_, unions_[index].get());
    unions_.erase(unions_.begin() + static_cast<std::ptrdiff_t>(index));
    Repaint();
}

bool TTolmFlow::DeleteNodeAtName(const std::string& name) {
    TTolmFlow_Node* node = GetNodeAtName(name);
    if (!node) return false;
    ClearSelect_Node(name);
    DeleteUnion_Node(name);
    FreeNodeAt(IndexOf(nodes_, node));
    return true;
}

void TTolmFlow::DeleteNodeAtIndex(int index) {
    AtIndex(nodes_, index);
    FreeNodeAt(static_cast<size_t>(index));
}

bool TTolmFlow::DeleteLinkAtName(const std::string& name) {
    TTolmFlow_Link* link = GetLinkAtName(name);
    if (!link) return false;
    ClearSelect_Link(name);
    DeleteUnion_Link(name);
    FreeLinkAt(IndexOf(links_, link));
    return true;
}

void TTolmFlow::DeleteLinkAtIndex(int index) {
    AtIndex(links_, index);
    FreeLinkAt(static_cast<size_t>(index));
}

bool TTolmFlow::DeleteUnionAtName(const std::string& name) {
    TTolmFlow_Union* u = GetUnionAtName(name);
    if (!u) return false;
    DissolveUnion(u);
    return true;
}

void TTolmFlow::DissolveUnion(TTolmFlow_Union* u) {
    for (TTolmFlow_Node* n : u->nodes_) n->inUnion_ = false;
    for (TTolmFlow_Link* l : u->links_) l->inUnion_ = false;
    u->nodes_.clear();
    u->links_.clear();
    FreeUnionAt(IndexOf(unions_, u));
}

void TTolmFlow::DeleteUnionAtIndex(int index) {
    AtIndex(unions_, index);
    FreeUnionAt(static_cast<size_t>(index));
}

void TTolmFlow::DeleteUnion_Node(const std::string& nodeName) {
    for (auto& u : unions_) {
        const auto& members = u->UnionNodes();
        if (std::any_of(members.begin(), members.end(), [&](auto* m) { return m->Name() == nodeName; })) {
            DissolveUnion(u.get());
            return;
        }
    }
}

void TTolmFlow::DeleteUnion_Link(const std::string& linkName) {
    for (auto& u : unions_) {
        const auto& members = u->UnionLinks();
        if (std::any_of(members.begin(), members.end(), [&](auto* m) { return m->Name() == linkName; })) {
            DissolveUnion(u.get());
            return;
        }
    }
}

// ---------------------------------------------------------------- selecting

// Selecting and unselecting share their shape across nodes, links and unions.
template <class T>
void TTolmFlow::SelectByName(const std::vector<std::unique_ptr<T>>& list, std::vector<T*>& selection, const std::string& name) {
    T* e = LastNamed(list, name);
    if (!e || e->select_) return;
    e->select_ = true;
    selection.push_back(e);
}

template <class T>
void TTolmFlow::UnselectByName(std::vector<T*>& selection, const std::string& name) {
    for (auto it = selection.rbegin(); it != selection.rend(); ++it) {
        if ((*it)->Name() == name) {
            (*it)->select_ = false;
            selection.erase(std::next(it).base());
            return;
        }
    }
}

template <class T>
void TTolmFlow::UnselectAll(std::vector<T*>& selection) {
    for (auto it = selection.rbegin(); it != selection.rend(); ++it) (*it)->select_ = false;
    selection.clear();
}


void TTolmFlow::AddSelect_Node(const std::string& name) { SelectByName(nodes_, selectNodes_, name); }
void TTolmFlow::AddSelect_Link(const std::string& name) { SelectByName(links_, selectLinks_, name); }
void TTolmFlow::AddSelect_Union(const std::string& name) { SelectByName(unions_, selectUnions_, name); }
void TTolmFlow::ClearSelect_Node(const std::string& name) { UnselectByName(selectNodes_, name); }
void TTolmFlow::ClearSelect_Link(const std::string& name) { UnselectByName(selectLinks_, name); }
void TTolmFlow::ClearSelect_Union(const std::string& name) { UnselectByName(selectUnions_, name); }
void TTolmFlow::ClearSelectAll_Node() { UnselectAll(selectNodes_); }
void TTolmFlow::ClearSelectAll_Link() { UnselectAll(selectLinks_); }
void TTolmFlow::ClearSelectAll_Union() { UnselectAll(selectUnions_); }

void TTolmFlow::AddSelect_Point(TTolmFlow_Link* link, int pointIndex) {
    if (link) selectPoints_.push_back({link, pointIndex});
}

void TTolmFlow::ClearSelectAll_Point() { selectPoints_.clear(); }

// ---------------------------------------------------------------- drawing order

void TTolmFlow::MoveNode(TTolmFlow_Node* node, bool toFront) {
    const size_t index = IndexOf(nodes_, node);
    if (index == nodes_.size()) return;
    std::unique_ptr<TTolmFlow_Node> moving = std::move(nodes_[index]);
    nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(index));
    if (toFront)
        nodes_.push_back(std::move(moving));
    else
        nodes_.insert(nodes_.begin(), std::move(moving));
    Repaint();
}

void TTolmFlow::SendToBack(TTolmFlow_Node* node) { MoveNode(node, false); }
void TTolmFlow::BringToFront(TTolmFlow_Node* node) { MoveNode(node, true); }

// ---------------------------------------------------------------- painting

int TTolmFlow::AddRepaintObserver(std::function<void()> observer) {
    observers_.emplace_back(nextObserverId_, std::move(observer));
    return nextObserverId_++;
}

void TTolmFlow::RemoveRepaintObserver(int id) {
    observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                    [id](const auto& o) { return o.first == id; }),
                     observers_.end());
}

void TTolmFlow::Repaint() {
    auto observers = observers_;  // an observer may remove itself
    for (auto& o : observers) o.second();
}

// ---------------------------------------------------------------- components

void TTolmFlow::InsertComponent(TFlowComponent* c) { components_.push_back(c); }

void TTolmFlow::RemoveComponent(TFlowComponent* c) { Erase(components_, c); }

TFlowComponent* TTolmFlow::FindComponent(const std::string& name) const {
    for (TFlowComponent* c : components_)
        if (c->Name() == name) return c;
    return nullptr;
}

void TTolmFlow::RemoveNewNode(TTolmFlow_Node* node) {
    const size_t index = IndexOf(nodes_, node);
    if (index < nodes_.size()) FreeNodeAt(index);
}

void TTolmFlow::RemoveNewUnion(TTolmFlow_Union* u) {
    if (IndexOf(unions_, u) < unions_.size()) DissolveUnion(u);
}

}  // namespace tolm
