#pragma once
// The flow diagram: it owns its nodes, links and unions, names new elements,
// finds, selects, deletes and groups them, keeps the drawing order, and saves
// the diagram to and reads it from its text file. Painting lives elsewhere
// (Tolmflowpainter.h); this class tells its observers when to repaint.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flow/Flowcodepage.h"
#include "flow/Flowvalues.h"
#include "flow/Tolmflow_link.h"
#include "flow/Tolmflow_node.h"
#include "flow/Tolmflow_union.h"

namespace tolm {

// A selected corner point of a link, for the interaction code.
struct TPointSelect {
    TTolmFlow_Link* Link = nullptr;
    int PointIndex = 0;
};

class TTolmFlow {
public:
    TTolmFlow();
    ~TTolmFlow();  // frees the unions, then the links, then the nodes
    TTolmFlow(const TTolmFlow&) = delete;
    TTolmFlow& operator=(const TTolmFlow&) = delete;

    // Published properties of the surface.
    int Shape() const { return shape_; }  // shape of the next node added; 0 means 1
    void SetShape(int v) { shape_ = v; }
    bool ShowGrid() const { return showGrid_; }
    void SetShowGrid(bool v);
    TGridStyle GridStyle() const { return gridStyle_; }
    void SetGridStyle(TGridStyle v);
    TColor GridColor() const { return gridColor_; }
    void SetGridColor(TColor v);
    int xGrid() const { return xGrid_; }
    void SetxGrid(int v);
    int yGrid() const { return yGrid_; }
    void SetyGrid(int v);
    TColor Color() const { return color_; }  // surface colour
    void SetColor(TColor v);
    const TFlowFont& Font() const { return font_; }
    TFlowFont& Font() { return font_; }
    // The code page of the diagram's text (Flowcodepage.h): the elements keep
    // their text as bytes, decoded with it for painting and editing.
    int CodePage() const { return codePage_; }
    void SetCodePage(int v);
    // Bytes as UTF-8 text, and UTF-8 text as bytes, in the diagram's code page.
    std::string DecodeText(const std::string& bytes) const { return DecodeDiagramText(bytes, codePage_); }
    std::string EncodeText(const std::string& text) const { return EncodeDiagramText(text, codePage_); }

    // ------------------------------------------------------------ elements
    // A new node named name + the first free number (base "Node_Object" for
    // an empty name), placed and sized in the order Left, Top, Width, Height.
    TTolmFlow_Node* AddNode(const std::string& name, int left, int top, int width, int height);
    // A new union named like a node (base "Union_Object").
    TTolmFlow_Union* AddUnion(const std::string& name);
    // Append an element created elsewhere; the list takes it over. False
    // only for no element.
    bool ObjectAddNode(std::unique_ptr<TTolmFlow_Node> node);
    bool ObjectAddLink(std::unique_ptr<TTolmFlow_Link> link);
    bool ObjectAddUnion(std::unique_ptr<TTolmFlow_Union> u);

    int ObjectNode_Count() const { return static_cast<int>(nodes_.size()); }
    int ObjectLink_Count() const { return static_cast<int>(links_.size()); }
    int ObjectUnion_Count() const { return static_cast<int>(unions_.size()); }
    int SelectObjectNode_Count() const { return static_cast<int>(selectNodes_.size()); }
    int SelectObjectLink_Count() const { return static_cast<int>(selectLinks_.size()); }
    int SelectObjectUnion_Count() const { return static_cast<int>(selectUnions_.size()); }
    int SelectObjectPoint_Count() const { return static_cast<int>(selectPoints_.size()); }

    // By position; EListError outside the list.
    TTolmFlow_Node* GetNodeAtIndex(int index) const;
    TTolmFlow_Link* GetLinkAtIndex(int index) const;
    TTolmFlow_Union* GetUnionAtIndex(int index) const;
    TTolmFlow_Node* GetSelectNodeAtIndex(int index) const;
    TTolmFlow_Link* GetSelectLinkAtIndex(int index) const;
    TTolmFlow_Union* GetSelectUnionAtIndex(int index) const;
    const TPointSelect& GetSelectPointAtIndex(int index) const;

    // The first element of that Name from the start of the list, or none.
    TTolmFlow_Node* GetNodeAtName(const std::string& name) const;
    TTolmFlow_Link* GetLinkAtName(const std::string& name) const;
    TTolmFlow_Union* GetUnionAtName(const std::string& name) const;

    // Deleting. The ...AtName forms also dissolve the first union holding the
    // element; every form drops the freed element from the selections, from
    // every union still holding it and from the links' ends, so no list is
    // left pointing at a freed element.
    bool DeleteNodeAtName(const std::string& name);
    void DeleteNodeAtIndex(int index);
    bool DeleteLinkAtName(const std::string& name);
    void DeleteLinkAtIndex(int index);
    // Empties the union (clearing its members' union flags), then frees it.
    bool DeleteUnionAtName(const std::string& name);
    // Frees the union without emptying it first: the members keep their flags.
    void DeleteUnionAtIndex(int index);
    // Deletes, with DeleteUnionAtName, the first union that holds the element.
    void DeleteUnion_Node(const std::string& nodeName);
    void DeleteUnion_Link(const std::string& linkName);

    // Selecting, by name. Add: searching the main list from its end, select
    // the first element of that name unless it is already selected.
    // Clear: searching the selection from its end, unselect the first.
    void AddSelect_Node(const std::string& name);
    void AddSelect_Link(const std::string& name);
    void AddSelect_Union(const std::string& name);
    void ClearSelect_Node(const std::string& name);
    void ClearSelect_Link(const std::string& name);
    void ClearSelect_Union(const std::string& name);
    void ClearSelectAll_Node();
    void ClearSelectAll_Link();
    void ClearSelectAll_Union();
    void AddSelect_Point(TTolmFlow_Link* link, int pointIndex);
    void ClearSelectAll_Point();

    // Drawing order: the first node of the list is drawn first (at the back).
    // The node object itself moves, so it keeps its links, union memberships,
    // selection and every property.
    void SendToBack(TTolmFlow_Node* node);
    void BringToFront(TTolmFlow_Node* node);

    // ------------------------------------------------------------ files
    // Writes every node line, then every union line, each ending in CR LF.
    // The file is replaced only when it was written completely; a file that
    // cannot be created raises EFOpenError naming its path.
    void SaveToFile(const std::string& path) const;
    // Adds the file's nodes and unions, line by line (lines of any length;
    // CR LF, LF or no line end at the end of the file). A line that fails
    // (bad number, taken or invalid name, pictures declaring far more pixels
    // than the file spells out) raises after removing the element it had
    // added; what was read before stays. EFOpenError when the file cannot be
    // opened.
    void OpenToFile(const std::string& path);
    // Adds the file's nodes only, reading character by character; stops at
    // the first text that cannot begin a node line (so at the first union).
    void OPenToFile_v(const std::string& path);
    // Applies a union line given without "Union" and line end to u. Member
    // names that name no element of the diagram are skipped.
    void SetUnionStructure(const std::string& text, TTolmFlow_Union* u);

    // ------------------------------------------------------------ painting
    // Observers are told when the diagram should be painted again.
    int AddRepaintObserver(std::function<void()> observer);
    void RemoveRepaintObserver(int id);
    void Repaint();

    // ------------------------------------------------------------ components
    // The register of components owned by the diagram (used by
    // TFlowComponent to check names). Finding is by exact Name.
    TFlowComponent* FindComponent(const std::string& name) const;
    int ComponentCount() const { return static_cast<int>(components_.size()); }

private:
    friend class TFlowComponent;
    void InsertComponent(TFlowComponent* c);
    void RemoveComponent(TFlowComponent* c);

    template <class T>
    std::string FreeName(const std::vector<std::unique_ptr<T>>& list, const std::string& name,
                         const std::string& defaultBase) const;
    void ForgetNode(TTolmFlow_Node* node);
    void ForgetLink(TTolmFlow_Link* link);
    void FreeNodeAt(size_t index);
    void FreeLinkAt(size_t index);
    void FreeUnionAt(size_t index);
    void DissolveUnion(TTolmFlow_Union* u);
    void MoveNode(TTolmFlow_Node* node, bool toFront);
    template <class T>
    static void SelectByName(const std::vector<std::unique_ptr<T>>& list, std::vector<T*>& selection,
                             const std::string& name);
    template <class T>
    static void UnselectByName(std::vector<T*>& selection, const std::string& name);
    template <class T>
    static void UnselectAll(std::vector<T*>& selection);
    void RemoveNewNode(TTolmFlow_Node* node);
    void RemoveNewUnion(TTolmFlow_Union* u);

    int shape_ = 0;
    bool showGrid_ = false;
    TGridStyle gridStyle_ = TGridStyle::gsPixels;
    TColor gridColor_ = RgbColor(128, 128, 128);
    int xGrid_ = 10;
    int yGrid_ = 10;
    TColor color_ = clWhite;
    TFlowFont font_;
    int codePage_ = kDefaultDiagramCodePage;

    // The seven lists: three own their elements, the selections refer.
    std::vector<std::unique_ptr<TTolmFlow_Node>> nodes_;
    std::vector<TTolmFlow_Node*> selectNodes_;
    std::vector<TPointSelect> selectPoints_;
    std::vector<std::unique_ptr<TTolmFlow_Link>> links_;
    std::vector<TTolmFlow_Link*> selectLinks_;
    std::vector<std::unique_ptr<TTolmFlow_Union>> unions_;
    std::vector<TTolmFlow_Union*> selectUnions_;

    std::vector<TFlowComponent*> components_;
    std::vector<std::pair<int, std::function<void()>>> observers_;
    int nextObserverId_ = 1;
};

}  // namespace tolm
