// What a render job is checked for before it starts, so that a job that
// cannot make its output is refused with the reason before anything is
// launched or written: no frame to render, a codec that cannot take the
// frame size, an output place that does not exist or cannot be written.
#pragma once

#include <QString>

#include <optional>

struct OutputRequest {
    QString outputType;  // a four-character code or a sequence type
    int quality = 2;
    int width = 0;
    int height = 0;
    double framerate = 0;
    double duration = 0;
    QString path;  // tilde already expanded
};

struct OutputRefusal {
    QString text;     // what the status line says
    QString details;  // the reason behind it, may be empty
};

std::optional<OutputRefusal> outputRefusal(const OutputRequest& request);
