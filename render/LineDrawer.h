#pragma once

#include "render/RenderObject.h"

#include <cstdint>
#include <vector>

namespace quarn {

// Shows a level built of mockup boxes as a wireframe: CollectMockupBoxLines gathers the twelve
// world-space edges of every enabled "MockupBox" below this node's parent, and each frame draws
// them as debug lines in the node's colour and opacity.
class LineDrawer : public RenderObject {
public:
    struct Segment {
        Float3 start;
        Float3 end;
    };

    LineDrawer();

    ClassInfo* GetClass() const override { return classInfo; }
    // The world box stays as constructed.
    void UpdateWorldBoundingBox() override {}
    int32_t Render() override;

    void CollectMockupBoxLines();
    const std::vector<Segment>& GetSegments() const { return segments_; }
    // Shown and saved; the debug lines have one width.
    int32_t GetLineWidth() const { return lineWidth_; }
    void SetLineWidth(int32_t width) { lineWidth_ = width; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    int32_t lineWidth_ = 1;
    std::vector<Segment> segments_;
};

} // namespace quarn
