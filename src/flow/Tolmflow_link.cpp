#include "flow/Tolmflow_link.h"

#include "flow/Tolmflow_node.h"

namespace tolm {

TTolmFlow_Link::TTolmFlow_Link(TTolmFlow* owner) : TFlowComponent(owner) {}

TTolmFlow_Link::~TTolmFlow_Link() { Connect(nullptr, nullptr); }

void TTolmFlow_Link::SetShape(int v) {
    shape_ = v;
    RebuildDrawPoints();
}

void TTolmFlow_Link::SetPoints(std::vector<TFlowPoint> points) {
    points_ = std::move(points);
    RebuildDrawPoints();
}

void TTolmFlow_Link::AddPoint(TFlowPoint point) {
    points_.push_back(point);
    RebuildDrawPoints();
}

void TTolmFlow_Link::RebuildDrawPoints() {
    drawPoints_.clear();
    for (size_t i = 0; i < points_.size(); ++i) {
        drawPoints_.push_back(points_[i]);
        if (shape_ == MidpointShape && i + 1 < points_.size())
            drawPoints_.push_back({(points_[i].X + points_[i + 1].X) / 2, (points_[i].Y + points_[i + 1].Y) / 2});
    }
}

void TTolmFlow_Link::Connect(TTolmFlow_Node* from, TTolmFlow_Node* to) {
    if (beginNode_) beginNode_->Delete_AtOutLinkObjects(this);
    if (endNode_) endNode_->Delete_AtInLinkObjects(this);
    beginNode_ = from;
    endNode_ = to;
    if (beginNode_) beginNode_->Add_AtOutLinkObjects(this);
    if (endNode_) endNode_->Add_AtInLinkObjects(this);
}

void TTolmFlow_Link::ForgetNode(TTolmFlow_Node* node) {
    if (beginNode_ == node) beginNode_ = nullptr;
    if (endNode_ == node) endNode_ = nullptr;
}

}  // namespace tolm
