/* Machine-dependent JNI types for 32- and 64-bit Windows, as the Windows JDK defines
 * them: native methods use the stdcall convention (which 64-bit Windows ignores),
 * jint is a 32-bit long and jlong a 64-bit integer. jni.h includes this file. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
