include $(sort $(wildcard $(BR2_EXTERNAL_FRAME_PLAYER_PATH)/package/*/*.mk))
