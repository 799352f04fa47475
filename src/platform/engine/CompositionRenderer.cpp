#include "platform/engine/CompositionRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/Log.h"
#include "platform/engine/EngineError.h"
#include "platform/engine/ShaderProgram.h"
#include "platform/engine/TextRasterizer.h"

namespace lumivane {
namespace {

void setSampling(GLenum filter) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// An image larger than the GPU's largest texture would be refused by the
// driver and sample as black; it is drawn scaled down instead.
void upload(GLTexture& texture, const TexturePixels& original, const std::string& what = {}) {
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    const bool fits = original.width <= maxSide && original.height <= maxSide;
    const TexturePixels scaled = fits ? TexturePixels{} : scaledToFit(original, maxSide);
    const TexturePixels& pixels = fits ? original : scaled;
    if (!fits) {
        nsLog("%s: image of %d x %d scaled down to %d x %d, the GPU's largest texture",
              what.c_str(), original.width, original.height, scaled.width, scaled.height);
    }
    if (!texture) texture = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (pixels.isFloat) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, pixels.width, pixels.height, 0, GL_RGBA,
                     GL_FLOAT, pixels.floats.data());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, pixels.width, pixels.height, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, pixels.bytes.data());
    }
    setSampling(GL_LINEAR);
}

// Audio images are grey: one float channel, read back as grey with alpha 1,
// filters far faster in a software rasterizer than four.
void uploadGrey(GLTexture& texture, const TexturePixels& pixels) {
    if (!texture) texture = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, pixels.width, pixels.height, 0, GL_RGBA, GL_FLOAT,
                 pixels.floats.data());
    const GLint grey[4] = {GL_RED, GL_RED, GL_RED, GL_ONE};
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, grey);
    setSampling(GL_LINEAR);
}

bool isScalarLike(const PlistValue& value) {
    using T = PlistValue::Type;
    const T type = value.type();
    return type == T::Boolean || type == T::Integer || type == T::Real || type == T::String;
}

}  // namespace

CompositionRenderer::CompositionRenderer(GLContext& context,
                                         std::shared_ptr<Composition> composition)
    : m_context(context), m_composition(std::move(composition)) {
    if (!m_composition) throw EngineError("no composition");
    if (!m_context.makeCurrent()) throw EngineError("the OpenGL context cannot be made current");
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &m_maxTextureSize);
    buildProgram();
    m_quad = FullScreenQuad::create();
    buildTextures();
    buildPasses();
}

CompositionRenderer::~CompositionRenderer() {
    m_context.makeCurrent();
}

void CompositionRenderer::buildProgram() {
    auto program =
        ShaderProgram::build(m_composition->vertexSource(), m_composition->fragmentSource());
    if (!program) throw EngineError(program.error());
    m_program = std::move(program.value());
    const GLuint id = m_program.id();
    glUseProgram(id);
    const auto at = [id](const std::string& name) {
        return glGetUniformLocation(id, name.c_str());
    };
    m_builtins = {
        at("TIME"),      at("TIMEDELTA"), at("RENDERSIZE"),        at("FRAMEINDEX"),   at("DATE"),
        at("PASSINDEX"), at("MOUSE"),     at("MOUSECLICK"),        at("MOUSEBUTTONS"), at("SCROLL"),
        at("MODIFIERS"), at("KEYBOARD"),  at("_isf_size_KEYBOARD")};
    for (const CompositionInput& input : m_composition->inputs()) {
        InputSlot slot;
        slot.value = input.defaultValue;
        slot.location = at(input.name);
        if (input.isImageLike()) {
            slot.sizeUniforms.locate(id, input.name);
            slot.unit = assignUnit(slot.location);
            if (input.type == InputType::Text)
                drawText(slot, input, *input.defaultValue.asString());
            // Silence: one sample of zero.
            if (input.type == InputType::Audio || input.type == InputType::AudioFFT)
                slot.size = {1, 1};
        }
        m_inputs.push_back(std::move(slot));
    }
    for (const ImportedImage& image : m_composition->importedImages()) {
        ImageSlot slot;
        slot.location = at(image.name);
        slot.sizeUniforms.locate(id, image.name);
        slot.unit = assignUnit(slot.location);
        slot.size = {float(image.pixels.width), float(image.pixels.height)};
        m_imported.push_back(std::move(slot));
    }
    m_keyboardUnit = assignUnit(m_builtins.keyboard);
}

int CompositionRenderer::assignUnit(GLint location) {
    if (location < 0) return -1;
    GLint maxUnits = 16;
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &maxUnits);
    if (m_nextUnit >= maxUnits) {
        throw EngineError(
            describeAt(m_composition->path(), "uses more images than the GPU can sample"));
    }
    glUniform1i(location, m_nextUnit);
    return m_nextUnit++;
}

void CompositionRenderer::buildTextures() {
    TexturePixels empty;
    empty.width = empty.height = 1;
    empty.bytes.assign(4, 0);
    upload(m_emptyTexture, empty);
    const auto& imported = m_composition->importedImages();
    for (size_t i = 0; i < imported.size(); ++i) {
        upload(m_imported[i].texture, imported[i].pixels,
               describeAt(imported[i].path, "imported image \"" + imported[i].name + "\""));
    }
    m_keyboardTexture = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, m_keyboardTexture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, UserInputState::kKeyboardWidth,
                 UserInputState::kKeyboardRows, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
    setSampling(GL_NEAREST);
}

void CompositionRenderer::buildPasses() {
    const std::vector<std::string> numeric = m_composition->numericInputNames();
    m_numericValues.assign(numeric.size(), 0.0);
    const auto compile = [&](const std::string& expression) -> std::unique_ptr<PassSizeExpression> {
        if (expression.empty()) return nullptr;
        auto compiled = PassSizeExpression::compile(expression, numeric);
        if (!compiled) throw EngineError(describeAt(m_composition->path(), compiled.error()));
        return std::move(compiled.value());
    };
    for (const CompositionPass& pass : m_composition->passes()) {
        PassSlot slot;
        slot.width = compile(pass.widthExpression);
        slot.height = compile(pass.heightExpression);
        if (!pass.target.empty()) {
            auto it = std::find_if(m_targets.begin(), m_targets.end(),
                                   [&](const TargetSlot& t) { return t.name == pass.target; });
            if (it == m_targets.end()) {
                TargetSlot target;
                target.name = pass.target;
                target.persistent = pass.persistent;
                target.isFloat = pass.floatTarget;
                target.location = glGetUniformLocation(m_program.id(), pass.target.c_str());
                target.sizeUniforms.locate(m_program.id(), pass.target);
                target.unit = assignUnit(target.location);
                m_targets.push_back(std::move(target));
                it = m_targets.end() - 1;
            }
            slot.target = int(it - m_targets.begin());
        }
        m_passes.push_back(std::move(slot));
    }
}

std::optional<PlistValue> CompositionRenderer::coerce(const CompositionInput& input,
                                                      const PlistValue& value) const {
    switch (input.type) {
        case InputType::Event:
        case InputType::Bool:
            if (!isScalarLike(value)) return std::nullopt;
            return PlistValue(value.boolValue());
        case InputType::Long:
            if (!isScalarLike(value)) return std::nullopt;
            return PlistValue(int64_t(value.intValue()));
        case InputType::Float:
            if (!isScalarLike(value)) return std::nullopt;
            return PlistValue(value.doubleValue());
        case InputType::Point2D:
        case InputType::Color: {
            const PlistArray* array = value.asArray();
            const size_t count = input.type == InputType::Color ? 4 : 2;
            if (!array || array->size() < (input.type == InputType::Color ? 3 : 2))
                return std::nullopt;
            PlistArray components;
            for (size_t i = 0; i < count; ++i) {
                if (i >= array->size()) {
                    components.emplace_back(1.0);  // an RGB colour is opaque
                    continue;
                }
                if (!(*array)[i].isNumber()) return std::nullopt;
                components.emplace_back((*array)[i].doubleValue());
            }
            return PlistValue(std::move(components));
        }
        case InputType::Text:
            if (!isScalarLike(value)) return std::nullopt;
            return PlistValue(value.stringValue());
        case InputType::Image:
            if (!value.isString()) return std::nullopt;
            return value;
        default:
            return std::nullopt;
    }
}

void CompositionRenderer::setValue(const PlistValue& value, const std::string& key) {
    const auto& inputs = m_composition->inputs();
    auto it = std::find_if(inputs.begin(), inputs.end(),
                           [&](const CompositionInput& in) { return in.name == key; });
    if (it == inputs.end()) throw EngineError("no input named \"" + key + "\"");
    const CompositionInput& input = *it;
    InputSlot& slot = m_inputs[size_t(it - inputs.begin())];
    auto coerced = coerce(input, value);
    if (!coerced) {
        throw EngineError("input \"" + key + "\" (" + input.typeText + ") cannot take this value");
    }
    if (input.type == InputType::Image) {
        const std::string& path = *coerced->asString();
        if (path.empty()) {
            slot.pendingPixels = TexturePixels{};
        } else {
            auto pixels = loadTexturePixels(path);
            if (!pixels) throw EngineError(pixels.error());
            slot.pendingPixels = std::move(pixels.value());
        }
    } else if (input.type == InputType::Text && slot.value != *coerced) {
        drawText(slot, input, *coerced->asString());
    }
    if (input.type == InputType::Event) slot.eventPending = coerced->boolValue();
    slot.value = std::move(*coerced);
}

void CompositionRenderer::setImagePixels(const std::string& key, TexturePixels pixels) {
    const auto& inputs = m_composition->inputs();
    auto it = std::find_if(inputs.begin(), inputs.end(), [&](const CompositionInput& in) {
        return in.name == key && in.type == InputType::Image;
    });
    if (it == inputs.end()) throw EngineError("no image input named \"" + key + "\"");
    m_inputs[size_t(it - inputs.begin())].pendingPixels = std::move(pixels);
}

std::optional<PlistValue> CompositionRenderer::valueForInputKey(const std::string& key) const {
    const auto& inputs = m_composition->inputs();
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].name != key) continue;
        if (inputs[i].type == InputType::Event) return PlistValue(m_inputs[i].eventPending);
        if (m_inputs[i].value.isNone()) return std::nullopt;
        return m_inputs[i].value;
    }
    return std::nullopt;
}

// A text that cannot be drawn shows as nothing, which a preview may live
// with; a render asks inputProblem() and stops.
void CompositionRenderer::drawText(InputSlot& slot, const CompositionInput& input,
                                   const std::string& text) {
    auto pixels = TextRasterizer::rasterize(text);
    if (pixels) {
        slot.pendingPixels = std::move(pixels.value());
        slot.problem.clear();
        return;
    }
    slot.pendingPixels = TexturePixels{};
    slot.problem = describeAt(m_composition->path(), "text input \"" + input.name +
                                                         "\" cannot be drawn: " + pixels.error());
    nsLog("%s", slot.problem.c_str());
}

std::optional<std::string> CompositionRenderer::inputProblem() const {
    for (const InputSlot& slot : m_inputs)
        if (!slot.problem.empty()) return slot.problem;
    return std::nullopt;
}

PlistDict CompositionRenderer::propertyListFromInputValues() const {
    PlistDict values;
    for (const std::string& key : m_composition->inputKeys()) {
        if (auto value = valueForInputKey(key)) values.set(key, std::move(*value));
    }
    return values;
}

void CompositionRenderer::uploadPendingTextures() {
    for (size_t i = 0; i < m_inputs.size(); ++i) {
        InputSlot& slot = m_inputs[i];
        if (!slot.pendingPixels) continue;
        if (slot.pendingPixels->empty()) {
            slot.texture.reset();
            slot.size = {0, 0};
        } else {
            upload(slot.texture, *slot.pendingPixels,
                   "input \"" + m_composition->inputs()[i].name + "\"");
            slot.size = {float(slot.pendingPixels->width), float(slot.pendingPixels->height)};
        }
        slot.pendingPixels.reset();
    }
    if (m_userInput.keyboardChanged() && m_keyboardUnit >= 0) {
        glBindTexture(GL_TEXTURE_2D, m_keyboardTexture.id());
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, UserInputState::kKeyboardWidth,
                        UserInputState::kKeyboardRows, GL_RED, GL_UNSIGNED_BYTE,
                        m_userInput.keyboard().data());
    }
}

void CompositionRenderer::setAudioSource(std::shared_ptr<AudioSampleSource> source) {
    m_audioSource = std::move(source);
    if (m_audioSource && !m_audioImage) m_audioImage = std::make_unique<AudioInputImage>();
}

// Called with the context current: a source set or removed between renders
// changes the textures here, never where another context may be current.
void CompositionRenderer::updateAudioInputs(double time) {
    const auto& inputs = m_composition->inputs();
    for (size_t i = 0; i < inputs.size(); ++i) {
        const CompositionInput& input = inputs[i];
        if (input.type != InputType::Audio && input.type != InputType::AudioFFT) continue;
        InputSlot& slot = m_inputs[i];
        if (slot.unit < 0) continue;  // the shader never reads it
        Result<TexturePixels> pixels = Error{"silence"};
        if (m_audioSource) {
            pixels = input.type == InputType::Audio
                         ? m_audioImage->waveform(*m_audioSource, time, input.maximum)
                         : m_audioImage->spectrum(*m_audioSource, time, input.maximum);
        }
        if (!pixels) {
            // Silence, as without a source: the source keeps why it failed.
            slot.texture.reset();
            slot.size = {1, 1};
            continue;
        }
        uploadGrey(slot.texture, pixels.value());
        slot.size = {float(pixels->width), float(pixels->height)};
    }
}

void CompositionRenderer::setFrameUniforms(double time) {
    const BuiltinLocations& b = m_builtins;
    const double delta = m_frameIndex == 0 ? 0.0 : time - m_lastTime;
    glUniform1f(b.time, float(time));
    glUniform1f(b.timeDelta, float(delta));
    glUniform1i(b.frameIndex, m_frameIndex);
    const auto& date = m_composition->date();
    glUniform4f(b.date, date[0], date[1], date[2], date[3]);
    glUniform2f(b.mouse, m_userInput.mouse().x, m_userInput.mouse().y);
    glUniform2f(b.mouseClick, m_userInput.mouseClick().x, m_userInput.mouseClick().y);
    glUniform1i(b.mouseButtons, m_userInput.mouseButtons());
    const auto& scroll = m_userInput.scroll();
    glUniform3f(b.scroll, scroll[0], scroll[1], scroll[2]);
    glUniform1i(b.modifiers, m_userInput.modifiers());
    glUniform2f(b.keyboardSize, float(UserInputState::kKeyboardWidth),
                float(UserInputState::kKeyboardRows));
    setInputUniforms();
}

void CompositionRenderer::setInputUniforms() {
    const auto& inputs = m_composition->inputs();
    size_t numeric = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const InputSlot& slot = m_inputs[i];
        const PlistValue& v = slot.value;
        switch (inputs[i].type) {
            case InputType::Event:
                glUniform1i(slot.location, slot.eventPending ? 1 : 0);
                m_numericValues[numeric++] = slot.eventPending ? 1 : 0;
                break;
            case InputType::Bool:
            case InputType::Long:
                glUniform1i(slot.location, v.intValue());
                m_numericValues[numeric++] = v.intValue();
                break;
            case InputType::Float:
                glUniform1f(slot.location, float(v.doubleValue()));
                m_numericValues[numeric++] = v.doubleValue();
                break;
            case InputType::Point2D: {
                const PlistArray& a = *v.asArray();
                glUniform2f(slot.location, float(a[0].doubleValue()), float(a[1].doubleValue()));
                break;
            }
            case InputType::Color: {
                const PlistArray& a = *v.asArray();
                glUniform4f(slot.location, float(a[0].doubleValue()), float(a[1].doubleValue()),
                            float(a[2].doubleValue()), float(a[3].doubleValue()));
                break;
            }
            default:
                slot.sizeUniforms.set(slot.size[0], slot.size[1]);
                break;
        }
    }
    for (const ImageSlot& image : m_imported) {
        image.sizeUniforms.set(image.size[0], image.size[1]);
    }
}

std::array<int, 2> CompositionRenderer::passSize(const PassSlot& pass, int width, int height) {
    const auto evaluate = [&](PassSizeExpression* expression, int fallback) {
        if (!expression) return fallback;
        const double value = expression->evaluate(width, height, m_numericValues);
        if (!std::isfinite(value)) return fallback;
        return int(std::clamp(std::lround(value), 1L, long(m_maxTextureSize)));
    };
    return {evaluate(pass.width.get(), width), evaluate(pass.height.get(), height)};
}

Result<void> CompositionRenderer::ensureTargetSize(TargetSlot& target, int width, int height) {
    if (target.width == width && target.height == height) return {};
    const long long bytes = 2LL * width * height * (target.isFloat ? 16 : 4);
    if (bytes > kMaxTargetBytes) {
        return Error{"its two buffers would take " + std::to_string(bytes >> 20) +
                     " MiB, more than the " + std::to_string(kMaxTargetBytes >> 30) +
                     " GiB a target may use"};
    }
    auto allocated = allocateTarget(target, width, height);
    if (allocated) return {};
    // Too large for the GPU: free what was made and try again next render.
    for (int i = 0; i < 2; ++i) {
        target.framebuffers[i].reset();
        target.textures[i].reset();
    }
    target.width = target.height = 0;
    return allocated;
}

Result<void> CompositionRenderer::allocateTarget(TargetSlot& target, int width, int height) {
    drainGLErrors();
    target.width = width;
    target.height = height;
    for (int i = 0; i < 2; ++i) {
        target.textures[i] = GLTexture::create();
        glBindTexture(GL_TEXTURE_2D, target.textures[i].id());
        glTexImage2D(GL_TEXTURE_2D, 0, target.isFloat ? GL_RGBA32F : GL_RGBA8, width, height, 0,
                     GL_RGBA, target.isFloat ? GL_FLOAT : GL_UNSIGNED_BYTE, nullptr);
        setSampling(GL_LINEAR);
        target.framebuffers[i] = GLFramebuffer::create();
        glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffers[i].id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               target.textures[i].id(), 0);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    const GLenum error = glGetError();
    if (error == GL_OUT_OF_MEMORY) return Error{"out of GPU memory"};
    if (error != GL_NO_ERROR)
        return Error{"the GPU refuses it (GL error " + std::to_string(error) + ")"};
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return Error{"the GPU cannot draw into it"};
    return {};
}

Result<void> CompositionRenderer::prepareTargets(int width, int height) {
    if (!m_context.makeCurrent())
        return errorAt(m_composition->path(), "the OpenGL context cannot be made current");
    glUseProgram(m_program.id());
    setInputUniforms();
    for (size_t i = 0; i < m_passes.size(); ++i) {
        if (m_passes[i].target < 0) continue;
        TargetSlot& target = m_targets[size_t(m_passes[i].target)];
        const auto size = passSize(m_passes[i], width, height);
        auto ready = ensureTargetSize(target, size[0], size[1]);
        if (!ready) return targetFailure(i, target, size, ready.error());
    }
    return {};
}

void CompositionRenderer::setRenderHistory(int renders, double lastTime) {
    m_frameIndex = renders;
    m_lastTime = lastTime;
    if (renders == 0) return;
    for (InputSlot& slot : m_inputs) slot.eventPending = false;
}

Error CompositionRenderer::targetFailure(size_t pass, const TargetSlot& target,
                                         std::array<int, 2> size, const std::string& why) const {
    return errorAt(m_composition->path(), "pass " + std::to_string(pass) + " cannot draw into \"" +
                                              target.name + "\" at " + std::to_string(size[0]) +
                                              " x " + std::to_string(size[1]) + ": " + why);
}

void CompositionRenderer::bindTextures() {
    const auto bind = [](int unit, GLuint texture) {
        if (unit < 0) return;
        glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, texture);
    };
    for (const InputSlot& slot : m_inputs) {
        bind(slot.unit, slot.texture ? slot.texture.id() : m_emptyTexture.id());
    }
    for (const ImageSlot& image : m_imported) bind(image.unit, image.texture.id());
    for (const TargetSlot& target : m_targets) {
        bind(target.unit, target.textures[target.front] ? target.textures[target.front].id()
                                                        : m_emptyTexture.id());
        target.sizeUniforms.set(float(target.width), float(target.height));
    }
    bind(m_keyboardUnit, m_keyboardTexture.id());
    glActiveTexture(GL_TEXTURE0);
}

Result<void> CompositionRenderer::drawPass(size_t index, GLuint framebuffer, int width,
                                           int height) {
    const PassSlot& pass = m_passes[index];
    const bool last = index + 1 == m_passes.size();
    int drawWidth = width, drawHeight = height;
    TargetSlot* target = pass.target >= 0 ? &m_targets[size_t(pass.target)] : nullptr;
    if (target) {
        const auto size = passSize(pass, width, height);
        auto ready = ensureTargetSize(*target, size[0], size[1]);
        if (!ready) return targetFailure(index, *target, size, ready.error());
        drawWidth = size[0];
        drawHeight = size[1];
        const int back = 1 - target->front;
        if (m_composition->usesDiscard()) {
            // Discarded fragments keep what the target held.
            glBindFramebuffer(GL_READ_FRAMEBUFFER, target->framebuffers[target->front].id());
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target->framebuffers[back].id());
            glBlitFramebuffer(0, 0, drawWidth, drawHeight, 0, 0, drawWidth, drawHeight,
                              GL_COLOR_BUFFER_BIT, GL_NEAREST);
        }
        glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffers[back].id());
    } else {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    }
    glViewport(0, 0, drawWidth, drawHeight);
    glUniform1i(m_builtins.passIndex, int(index));
    glUniform2f(m_builtins.renderSize, float(drawWidth), float(drawHeight));
    bindTextures();
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    if (!target) return {};
    target->front = 1 - target->front;
    if (last) {
        // The last pass is the output even when it also fills a target.
        glBindFramebuffer(GL_READ_FRAMEBUFFER, target->framebuffers[target->front].id());
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
        glBlitFramebuffer(0, 0, drawWidth, drawHeight, 0, 0, width, height, GL_COLOR_BUFFER_BIT,
                          GL_LINEAR);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    }
    return {};
}

Result<void> CompositionRenderer::render(double time, const RenderArguments* arguments,
                                         GLuint framebuffer, int width, int height) {
    if (!m_context.makeCurrent())
        return errorAt(m_composition->path(), "the OpenGL context cannot be made current");
    m_userInput.apply(arguments);
    uploadPendingTextures();
    updateAudioInputs(m_audioTime.value_or(time));
    glUseProgram(m_program.id());
    m_quad.bind();
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    setFrameUniforms(time);
    // Targets that do not persist start every render transparent.
    for (TargetSlot& target : m_targets) {
        if (target.persistent || !target.textures[target.front]) continue;
        glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffers[target.front].id());
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    Result<void> drawn;
    for (size_t i = 0; i < m_passes.size() && drawn; ++i) {
        drawn = drawPass(i, framebuffer, width, height);
    }
    for (InputSlot& slot : m_inputs) slot.eventPending = false;
    m_lastTime = time;
    // FRAMEINDEX is a GLSL int: a render that starts past its range (a late
    // start without a pre-roll) stays at its largest value.
    if (m_frameIndex < std::numeric_limits<int>::max()) ++m_frameIndex;
    return drawn;
}

}  // namespace lumivane
