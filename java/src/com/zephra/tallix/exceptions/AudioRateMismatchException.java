package com.zephra.tallix.exceptions;

/** Thrown by the voice engine's native methods; the message says what failed. */
public class AudioRateMismatchException extends TallixException {
    private static final long serialVersionUID = 1L;

    public AudioRateMismatchException(String message) {
        super(message);
    }
}
