#pragma once
// One polyline of a flow diagram: its corner points, the points derived from
// them for drawing and hit-testing, and the node at each end. Links are not
// stored in diagram files.
#include <vector>

#include "flow/Flowcomponent.h"
#include "flow/Flowvalues.h"

namespace tolm {

class TTolmFlow_Node;

class TTolmFlow_Link : public TFlowComponent {
public:
    // The shape whose drawing points hold a midpoint after every corner.
    static constexpr int MidpointShape = 11;

    explicit TTolmFlow_Link(TTolmFlow* owner = nullptr);
    ~TTolmFlow_Link() override;  // leaves the In/Out lists of its end nodes

    static bool IsNull(const TTolmFlow_Link* link) { return link == nullptr; }

    // Published properties, in declared order.
    const std::string& Key() const { return key_; }
    void SetKey(const std::string& v) { key_ = v; }
    int Shape() const { return shape_; }
    void SetShape(int v);
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    bool Select() const { return select_; }  // set through the diagram's selection
    bool Lock() const { return lock_; }
    void SetLock(bool v) { lock_ = v; }

    // Corner points in surface pixels, in drawing order.
    const std::vector<TFlowPoint>& Points() const { return points_; }
    void SetPoints(std::vector<TFlowPoint> points);
    void AddPoint(TFlowPoint point);
    // Rebuilt from the corner points: for shape 11 each corner point followed
    // by the midpoint to the next one, otherwise the corner points themselves.
    const std::vector<TFlowPoint>& DrawPoints() const { return drawPoints_; }

    // The nodes at both ends (either may be none). Connect also enters the
    // link in the OutLinks of from and the InLinks of to, and leaves the
    // lists of the nodes it ended at before.
    TTolmFlow_Node* BeginNode() const { return beginNode_; }
    TTolmFlow_Node* EndNode() const { return endNode_; }
    void Connect(TTolmFlow_Node* from, TTolmFlow_Node* to);

    bool InUnion() const { return inUnion_; }

private:
    friend class TTolmFlow_Node;   // a freed node leaves the link's ends
    friend class TTolmFlow_Union;  // sets the union flag
    friend class TTolmFlow;        // keeps Select in step with its selection list
    void ForgetNode(TTolmFlow_Node* node);
    void RebuildDrawPoints();

    std::string key_;
    int shape_ = 0;
    bool visible_ = true;
    bool select_ = false;
    bool lock_ = false;
    std::vector<TFlowPoint> points_;
    std::vector<TFlowPoint> drawPoints_;
    TTolmFlow_Node* beginNode_ = nullptr;
    TTolmFlow_Node* endNode_ = nullptr;
    bool inUnion_ = false;
};

}  // namespace tolm
