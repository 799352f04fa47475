<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>AppController</name>
    <message>
        <source>frame status</source>
        <translation>Rendering frame %1 of %2 (%3%)</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>“%1” already exists. Do you want to replace it?</translation>
    </message>
    <message>
        <source>Replace Informative Text</source>
        <translation>Replacing it overwrites its current contents.</translation>
    </message>
    <message>
        <source>Stop Rendering Informative Text</source>
        <translation>A movie is being rendered. Quitting stops the render; the frames written so far are kept.</translation>
    </message>
    <message>
        <source>This composition has no published input parameters.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Minimum</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Normal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>High</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Max</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lossless</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Record</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Record Input</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>JPEG Sequence</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PNG Sequence</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TIFF Sequence</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OpenEXR Sequence</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not open %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Composition</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Compositions (*.qtz)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quality Slowdown</source>
        <translation>Rendering at %1 quality can take much longer and makes very large files.</translation>
    </message>
    <message>
        <source>AA Slowdown</source>
        <translation>Anti-aliasing above 4 renders more than 16 samples for every pixel; rendering can take much longer.</translation>
    </message>
    <message>
        <source>Slowdown Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Do not show this message again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not open the help page %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>preparing to encode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Complete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to load the Composition</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed to create offscreen renderer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>failed to create movie</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Movies (*.mov)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Replace</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>invalid path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The renderer cannot be started: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Currently Rendering</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CompositionDropView</name>
    <message>
        <source>Drop in a composition</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No composition is open.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DockMenu</name>
    <message>
        <source>Now Rendering</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Drop a composition (.qtz) here to preview it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Render the composition into the output file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Record</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Record mouse and keyboard input to replay while rendering</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Record Input</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run the composition in the preview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show or hide the composition&apos;s input parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Inputs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Format:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Movie codec or image sequence format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Codec quality:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Compression quality of the movie codec</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save to:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output movie file, or the folder of an image sequence</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose where the output goes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size &amp;&amp; Timing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output size preset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>320 × 240</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>640 × 480</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>800 × 600</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1024 × 768</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1280 × 1024</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>720 × 480 (NTSC)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>720 × 576 (PAL)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1280 × 720 (HD 720)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1920 × 1080 (HD 1080)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Custom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Width:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output width in pixels</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Height:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output height in pixels</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame rate:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames per second</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Duration:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Length of the output in seconds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Composition time of the first frame, in seconds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time scale:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Composition seconds per output second</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Image Quality</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Anti-aliasing:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Supersampling factor per axis, from 1 (none) to 8 in half steps</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Samples per output pixel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Motion blur:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Motion blur amount, from 0 to 4 in eighths</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Samples averaged per frame</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open Composition…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lumivane &amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>F1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ParameterView</name>
    <message>
        <source>Send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>None</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read this image</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Images and movies (*.png *.jpg *.jpeg *.tif *.tiff *.exr *.jp2 *.bmp *.mov *.mp4 *.m4v *.mkv *.webm *.avi *.mxf)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
