/*
 * Transform matrices and their text form.
 *
 * Matrices are 4x4 affine transforms, 16 doubles in row-major order (element (r, c) is value
 * 4r + c; the translation is values 3, 7 and 11). Their text form, the form of the BOM line
 * transform properties, lists the 16 numbers column by column with "." as the decimal point,
 * whatever locale the process has installed.
 *
 * The operations write no entry or exit lines, report no status and call the platform only for
 * memory; reading a text form logs one message when it fails. A text handed out is a MEM_alloc
 * block owned by the receiver (MEM_free).
 */
#ifndef KEP_MATRIX_H
#define KEP_MATRIX_H

#ifdef __cplusplus
extern "C" {
#endif

/* A 4x4 affine transform, row-major. Row 3 is (0, 0, 0, 1) in every matrix this library
 * computes; a matrix read from text holds whatever the text says there. */
typedef struct kep_matrix_s {
    double m[16];
} kep_matrix_t;

/* Sets matrix to the identity. */
void kep_matrix_identity(kep_matrix_t* matrix);

/* Copies all 16 values of source into destination. */
void kep_matrix_copy(const kep_matrix_t* source, kep_matrix_t* destination);

/* result = parent x child as affine transforms: a point mapped first by child and then by
 * parent is mapped by result. Row 3 of the inputs is never read; row 3 of result is
 * (0, 0, 0, 1). result may be the same matrix as either input. */
void kep_matrix_multiply(const kep_matrix_t* parent, const kep_matrix_t* child, kep_matrix_t* result);

/* Fills matrix from its text form: 16 numbers separated by any white space, column by column,
 * "." as the decimal point; text after the 16th number is ignored. When text is null, fewer
 * than 16 numbers convert or one of them is not finite ("nan", "inf", a number beyond the range
 * of a double), logs "cannot get matrix from string [<text>], assuming identity" and
 * sets the identity. The numeric conventions of the process and of other threads are left
 * untouched. */
void kep_matrix_from_string(const char* text, kep_matrix_t* matrix);

/* Writes the text form of matrix ("%.16g" per number, single blanks, "." as the decimal point)
 * into a new MEM_alloc string in *text, owned by the caller. Whatever *text held before is not
 * freed. */
void kep_matrix_to_string(const kep_matrix_t* matrix, char** text);

#ifdef __cplusplus
}
#endif

#endif
