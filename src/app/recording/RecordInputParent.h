// What the Record Input window asks of the controller that shows it: to take
// the sheet down again. The controller implements it, so the window needs
// nothing else of the controller.
#pragma once

class RecordInputParent {
public:
    virtual ~RecordInputParent() = default;
    virtual void closeRecordInput() = 0;
};
