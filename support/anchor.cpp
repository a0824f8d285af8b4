int zumvo_support_anchor = 0;
