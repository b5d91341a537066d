#pragma once
// A named group of nodes and links, with the rectangle around its members.
// The union refers to its members; it owns none of them.
#include <optional>
#include <string>
#include <vector>

#include "flow/Flowcomponent.h"
#include "flow/Flowvalues.h"

namespace tolm {

class TTolmFlow_Node;
class TTolmFlow_Link;

class TTolmFlow_Union : public TFlowComponent {
public:
    explicit TTolmFlow_Union(TTolmFlow* owner = nullptr);

    static bool IsNull(const TTolmFlow_Union* u) { return u == nullptr; }

    // Published properties, in declared order.
    const std::string& Key() const { return key_; }
    void SetKey(const std::string& v) { key_ = v; }
    const std::string& KeyNote() const { return keyNote_; }
    void SetKeyNote(const std::string& v) { keyNote_ = v; }
    const std::string& Note() const { return note_; }
    void SetNote(const std::string& v) { note_ = v; }
    const std::string& Run() const { return run_; }
    void SetRun(const std::string& v) { run_ = v; }
    // Right and bottom edges are stored, as for nodes.
    int Left() const { return left_; }
    void SetLeft(int v) { left_ = v; }
    int Top() const { return top_; }
    void SetTop(int v) { top_ = v; }
    int Width() const;
    void SetWidth(int v);
    int Height() const;
    void SetHeight(int v);
    int Tag() const { return tag_; }
    void SetTag(int v) { tag_ = v; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    bool Select() const { return select_; }  // set through the diagram's selection
    bool Lock() const { return lock_; }
    void SetLock(bool v) { lock_ = v; }

    // Membership. Adding an element whose Name is already a member does
    // nothing; deleting removes the first member of that Name. Both mark the
    // rectangle out of date and set or clear the element's union flag.
    void Add_AtNodeObjects(TTolmFlow_Node* node);
    void Add_AtLinkObjects(TTolmFlow_Link* link);
    void Delete_AtNodeObjects(TTolmFlow_Node* node);
    void Delete_AtLinkObjects(TTolmFlow_Link* link);
    TTolmFlow_Node* GetNodeAtIndex(int index) const;  // EListError outside the list
    TTolmFlow_Link* GetLinkAtIndex(int index) const;
    int AtNodeObjects_Count() const { return static_cast<int>(nodes_.size()); }
    int AtLinkObjects_Count() const { return static_cast<int>(links_.size()); }
    const std::vector<TTolmFlow_Node*>& UnionNodes() const { return nodes_; }
    const std::vector<TTolmFlow_Link*>& UnionLinks() const { return links_; }
    bool HasNode(const TTolmFlow_Node* node) const;
    bool HasLink(const TTolmFlow_Link* link) const;

    // The rectangle around the members: with nodes, the smallest one holding
    // every member node; with links only, the one holding every corner point
    // of the member links; with no members, none.
    std::optional<TFlowRect> MemberBounds() const;
    // Stores MemberBounds as the rectangle; false (rectangle kept) when there
    // is none.
    bool ReSetPosition();
    bool RectOutOfDate() const { return rectOutOfDate_; }
    // These recompute the rectangle first when it is out of date.
    TFlowPoint P_Left_hand();
    TFlowPoint P_Right_tail();
    TFlowRect DisplayRect();

    // The union line of a diagram file without its line end.
    std::string GetUnionStructure() const;

private:
    friend class TTolmFlow;  // keeps Select in step; drops freed members
    // Removes every membership of the element without touching its flag
    // (used just before the element is freed).
    void DropNode(const TTolmFlow_Node* node);
    void DropLink(const TTolmFlow_Link* link);

    std::string key_, keyNote_, note_, run_;
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    int tag_ = 0;
    bool visible_ = true;
    bool select_ = false;
    bool lock_ = false;
    std::vector<TTolmFlow_Node*> nodes_;
    std::vector<TTolmFlow_Link*> links_;
    bool rectOutOfDate_ = false;
};

}  // namespace tolm
