// A black frame around a preview that keeps the preview at the output's
// aspect ratio (letterboxed or pillarboxed), so that what the user sees and
// records against is what a render makes of it. Drags and drops on the bars
// go to the preview as if dropped on it.
#pragma once

#include <QSize>
#include <QWidget>

class AspectRatioFrame : public QWidget {
    Q_OBJECT

public:
    // Takes `view`'s place in its parent's layout and holds it from then on;
    // the frame takes over the view's minimum size and size policy.
    static AspectRatioFrame* wrap(QWidget* view);

    // The output size whose proportions the view keeps; an empty size fills
    // the frame.
    void setAspectSize(const QSize& size);
    QSize aspectSize() const { return m_aspectSize; }
    QWidget* view() const { return m_view; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    AspectRatioFrame(QWidget* view, QWidget* parent);
    void placeView();

    QWidget* m_view;
    QSize m_aspectSize;
};
