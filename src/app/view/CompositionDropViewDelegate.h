// What the drop view asks of the controller that owns it.
#pragma once

class QAbstractButton;
class QString;

class CompositionDropViewDelegate {
public:
    virtual ~CompositionDropViewDelegate() = default;
    // The "Preview" check box: enabled while no render job runs, checked when
    // the preview should play.
    virtual QAbstractButton* previewEnabled() const = 0;
    virtual void setCompositionFile(const QString& path) = 0;
    virtual void setCanRecord(bool flag) = 0;
    virtual void setDefaultPath(const QString& path) = 0;
};
