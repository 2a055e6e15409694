#pragma once

// Takes what drawables queue on the active annotation node, for checks of the geometry itself.

#include "render/AnnotationSink.h"

#include <string>
#include <vector>

namespace quarn::test {

class AnnotationRecorder : public AnnotationSink {
public:
    struct Line {
        Float3 from, to;
        uint32_t color;
    };
    struct Text {
        Float2 at;
        std::string text;
        uint32_t color;
    };
    struct Box {
        Float3 position, size;
        Quaternion orientation;
        uint32_t color;
    };

    AnnotationRecorder() { SetActiveAnnotations(this); }
    ~AnnotationRecorder() override { SetActiveAnnotations(nullptr); }

    void AddLine(const Float3& from, const Float3& to, uint32_t color, float) override {
        lines.push_back({from, to, color});
    }
    void AddLine2D(float x1, float y1, float x2, float y2, uint32_t color, float) override {
        screenLines.push_back({Float3(x1, y1, 0), Float3(x2, y2, 0), color});
    }
    void AddText(float x, float y, const char* text, uint32_t color, float) override {
        texts.push_back({Float2(x, y), text, color});
    }
    void AddSphere(const Float3&, float, uint32_t) override { ++spheres; }
    void AddBox(const Float3& position, const Float3& size, const Quaternion& orientation,
                uint32_t color) override {
        boxes.push_back({position, size, orientation, color});
    }

    std::vector<Line> lines;
    std::vector<Line> screenLines;
    std::vector<Text> texts;
    std::vector<Box> boxes;
    int spheres = 0;
};

} // namespace quarn::test
