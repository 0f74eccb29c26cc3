package opencard.core.service;

/** Test stand-in: the failure of a card service. */
public class CardServiceException extends Exception {
    private static final long serialVersionUID = 1L;

    public CardServiceException(String message) {
        super(message);
    }
}
