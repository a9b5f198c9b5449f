#include "hub/ui/ActivityLamps.h"

#include "hub/engine/GpsPort.h"

namespace tavro {
namespace {

constexpr float fullTurn = 360.0f;
constexpr float degreesPerStep = 0.2f;
constexpr float ringOffsetGap = 3.0f;

// The open count beyond which a client count no longer fits a colour bit.
constexpr uint32_t colourBits = 32;

} // namespace

float ActivityLamps::TurnedAngle(float angle, int32_t step) {
    float turned = angle + degreesPerStep * static_cast<float>(step);
    // One turn back or forward covers every step of one tick but the largest: the remembered
    // counts are kept across closed windows, so the first tick after a long time closed can
    // bring a step of many turns. Whole turns are taken off first, so the angle stays in range
    // and keeps its precision whatever the step.
    if (turned < 0.0f || turned >= fullTurn) {
        const int32_t turns = static_cast<int32_t>(turned / fullTurn);
        turned -= fullTurn * static_cast<float>(turns);
    }
    if (turned < 0.0f) {
        turned += fullTurn;
    }
    if (turned >= fullTurn) {
        turned -= fullTurn;
    }
    return turned;
}

void ActivityLamps::DrawLamp(LampPainter& painter, uint32_t lamp, uint32_t colour, int32_t step) {
    if (lamp >= lampCount) {
        return;
    }
    angle_[lamp] = TurnedAngle(angle_[lamp], step);
    LampDrawing drawing;
    drawing.fill = OpaqueArgb(colour);
    drawing.angle = angle_[lamp];
    drawing.firstRingOffset = angle_[lamp] + ringOffsetGap;
    drawing.secondRingOffset = angle_[lamp];
    painter.Paint(lamp, drawing);
}

void ActivityLamps::Update(const HubContext& hub, LampPainter& painter) {
    const DriverExchangeBlock& block = hub.exchange.block;
    const bool portsEnabled = hub.exchange.DeviceOpen();
    for (uint32_t k = 0; k < virtualPortCount; ++k) {
        uint32_t colour = lampColour::grey;
        if (portsEnabled && block.comNumber[k] != 0) {
            const uint32_t clients = block.openCount[k];
            if (clients == 0) {
                colour = lampColour::red;
            } else {
                colour = lampColour::green | (clients < colourBits ? 1u << clients : 0u);
            }
        }
        // The read-activity count is the activity word's upper half; growing activity turns
        // the ring backwards.
        const uint32_t readActivity = block.activity[k] >> 16;
        const int32_t step = static_cast<int32_t>(lastReadActivity_[k] - readActivity);
        lastReadActivity_[k] = readActivity;
        DrawLamp(painter, k + 1, colour, step);
    }

    const bool inputOpen = hub.InputConfigured() && hub.InputPortOpen();
    uint32_t colour = lampColour::red;
    int32_t step = 0;
    if (inputOpen) {
        colour = hub.settings.bluetooth != 0 ? lampColour::bluetooth : lampColour::green;
        step = static_cast<int32_t>(lastSentenceCount_ - hub.loop.sentenceCount);
        lastSentenceCount_ = hub.loop.sentenceCount;
    }
    DrawLamp(painter, inputLampIndex, colour, step);
}

} // namespace tavro
