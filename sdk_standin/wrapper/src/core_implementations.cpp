// The parts of the client wrapper that talk to the embedder's C API: the binary messenger,
// the plug-in registrar and its manager, and the texture registrar.

#include <flutter/binary_messenger.h>
#include <flutter/plugin_registrar.h>
#include <flutter/texture_registrar.h>
#include <flutter_messenger.h>
#include <flutter_plugin_registrar.h>
#include <flutter_texture_registrar.h>

#include <iostream>
#include <map>
#include <memory>

namespace flutter {

namespace {

// Passes a message from the C API to the C++ handler in |user_data|, with a reply function
// that any thread may call (once) for as long as the engine lives.
void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) {
  auto* response_handle = message->response_handle;
  auto messenger_ptr = std::shared_ptr<FlutterDesktopMessenger>(
      FlutterDesktopMessengerAddRef(messenger), &FlutterDesktopMessengerRelease);
  BinaryReply reply_handler = [messenger_ptr, response_handle](const uint8_t* reply,
                                                               size_t reply_size) mutable {
    // Note: This lambda can be called on any thread.
    auto lock = std::unique_ptr<FlutterDesktopMessenger, decltype(&FlutterDesktopMessengerUnlock)>(
        FlutterDesktopMessengerLock(messenger_ptr.get()), &FlutterDesktopMessengerUnlock);
    if (!FlutterDesktopMessengerIsAvailable(messenger_ptr.get())) {
      std::cerr << "Error: Responding to a message after the engine has been destroyed."
                << std::endl;
      return;
    }
    if (!response_handle) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate response."
                << std::endl;
      return;
    }
    FlutterDesktopMessengerSendResponse(messenger_ptr.get(), response_handle, reply, reply_size);
    // The engine frees the response handle once it's been used.
    response_handle = nullptr;
  };

  const BinaryMessageHandler& message_handler = *static_cast<BinaryMessageHandler*>(user_data);

  message_handler(message->message, message->message_size, std::move(reply_handler));
}

// Wrapper around a FlutterDesktopMessengerRef that implements the BinaryMessenger API.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef core_messenger)
      : messenger_(core_messenger) {}

  virtual ~BinaryMessengerImpl() = default;

  // Prevent copying.
  BinaryMessengerImpl(BinaryMessengerImpl const&) = delete;
  BinaryMessengerImpl& operator=(BinaryMessengerImpl const&) = delete;

  // |flutter::BinaryMessenger|
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply) const override {
    if (reply == nullptr) {
      FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
      return;
    }
    struct Captures {
      BinaryReply reply;
    };
    auto captures = new Captures();
    captures->reply = reply;

    auto message_reply = [](const uint8_t* data, size_t data_size, void* user_data) {
      auto captures = reinterpret_cast<Captures*>(user_data);
      captures->reply(data, data_size);
      delete captures;
    };
    bool result = FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                                       message_size, message_reply, captures);
    if (!result) {
      delete captures;
    }
  }

  // |flutter::BinaryMessenger|
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override {
    if (!handler) {
      FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
      handlers_.erase(channel);
      return;
    }
    // Save the handler, to keep it alive.
    handlers_[channel] = std::move(handler);
    BinaryMessageHandler* message_handler = &handlers_[channel];
    // Set an adaptor callback that will invoke the handler.
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), ForwardToHandler,
                                       message_handler);
  }

 private:
  // Handle for interacting with the C API.
  FlutterDesktopMessengerRef messenger_;

  // A map from channel names to the BinaryMessageHandler that should be called for incoming
  // messages on that channel.
  std::map<std::string, BinaryMessageHandler> handlers_;
};

// Wrapper around a FlutterDesktopTextureRegistrarRef that implements the TextureRegistrar
// API. Plug-ins of this project draw nothing, so only the bookkeeping is real.
class TextureRegistrarImpl : public TextureRegistrar {
 public:
  explicit TextureRegistrarImpl(FlutterDesktopTextureRegistrarRef texture_registrar_ref)
      : texture_registrar_ref_(texture_registrar_ref) {}

  int64_t RegisterTexture(TextureVariant* texture) override {
    FlutterDesktopTextureInfo info = {};
    if (auto pixel_buffer_texture = std::get_if<PixelBufferTexture>(texture)) {
      info.type = kFlutterDesktopPixelBufferTexture;
      info.pixel_buffer_config.user_data = pixel_buffer_texture;
      info.pixel_buffer_config.callback = [](size_t width, size_t height,
                                             void* user_data) -> const FlutterDesktopPixelBuffer* {
        auto texture = static_cast<PixelBufferTexture*>(user_data);
        return texture->CopyPixelBuffer(width, height);
      };
    } else if (auto gpu_surface_texture = std::get_if<GpuSurfaceTexture>(texture)) {
      info.type = kFlutterDesktopGpuSurfaceTexture;
      info.gpu_surface_config.struct_size = sizeof(FlutterDesktopGPUSurfaceTextureConfig);
      info.gpu_surface_config.type = gpu_surface_texture->surface_type();
      info.gpu_surface_config.user_data = gpu_surface_texture;
      info.gpu_surface_config.callback =
          [](size_t width, size_t height,
             void* user_data) -> const FlutterDesktopGpuSurfaceDescriptor* {
        auto texture = static_cast<GpuSurfaceTexture*>(user_data);
        return texture->ObtainDescriptor(width, height);
      };
    } else {
      std::cerr << "Attempting to register unknown texture variant." << std::endl;
      return -1;
    }
    return FlutterDesktopTextureRegistrarRegisterExternalTexture(texture_registrar_ref_, &info);
  }

  bool MarkTextureFrameAvailable(int64_t texture_id) override {
    return FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(texture_registrar_ref_,
                                                                           texture_id);
  }

  void UnregisterTexture(int64_t texture_id, std::function<void()> callback) override {
    struct Captures {
      std::function<void()> callback;
    };
    auto captures = new Captures();
    captures->callback = std::move(callback);
    FlutterDesktopTextureRegistrarUnregisterExternalTexture(
        texture_registrar_ref_, texture_id,
        [](void* opaque) {
          auto captures = reinterpret_cast<Captures*>(opaque);
          if (captures->callback) captures->callback();
          delete captures;
        },
        captures);
  }

  bool UnregisterTexture(int64_t texture_id) override {
    UnregisterTexture(texture_id, nullptr);
    return true;
  }

 private:
  FlutterDesktopTextureRegistrarRef texture_registrar_ref_ = nullptr;
};

}  // namespace

// ===== PluginRegistrar =====

PluginRegistrar::PluginRegistrar(FlutterDesktopPluginRegistrarRef registrar)
    : registrar_(registrar) {
  auto core_messenger = FlutterDesktopPluginRegistrarGetMessenger(registrar_);
  messenger_ = std::make_unique<BinaryMessengerImpl>(core_messenger);

  auto texture_registrar = FlutterDesktopRegistrarGetTextureRegistrar(registrar_);
  texture_registrar_ = std::make_unique<TextureRegistrarImpl>(texture_registrar);
}

PluginRegistrar::~PluginRegistrar() {
  // This must always be the first call.
  ClearPlugins();

  // Explicitly cleared to facilitate testing of destruction order.
  messenger_.reset();
}

void PluginRegistrar::AddPlugin(std::unique_ptr<Plugin> plugin) {
  plugins_.insert(std::move(plugin));
}

void PluginRegistrar::ClearPlugins() { plugins_.clear(); }

// ===== PluginRegistrarManager =====

// static
PluginRegistrarManager* PluginRegistrarManager::GetInstance() {
  static PluginRegistrarManager* instance = new PluginRegistrarManager();
  return instance;
}

PluginRegistrarManager::PluginRegistrarManager() = default;

// static
void PluginRegistrarManager::OnRegistrarDestroyed(FlutterDesktopPluginRegistrarRef registrar) {
  PluginRegistrarManager* manager = GetInstance();
  std::unique_ptr<PluginRegistrar> wrapper;
  {
    std::lock_guard<std::mutex> lock(manager->mutex_);
    auto it = manager->registrars()->find(registrar);
    if (it == manager->registrars()->end()) return;
    wrapper = std::move(it->second);
    manager->registrars()->erase(it);
  }
  // Plug-in destructors run outside the lock: they may stop threads that use the manager.
  wrapper.reset();
}

void PluginRegistrarManager::Reset() {
  WrapperMap doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    doomed.swap(registrars_);
  }
  doomed.clear();
}

}  // namespace flutter
