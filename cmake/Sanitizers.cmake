# AddressSanitizer and UndefinedBehaviorSanitizer for the whole build (dev preset).
if(QV_SANITIZE)
  set(_qv_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${_qv_san})
  add_link_options(${_qv_san})
endif()
